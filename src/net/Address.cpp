#include "net/Address.h"

#include <arpa/inet.h>

#include <cctype>

namespace bramblet {

std::string dottedQuad(std::uint32_t networkOrderAddress)
{
    const std::uint32_t a = ntohl(networkOrderAddress);
    return std::to_string((a >> 24) & 0xFF) + '.' + std::to_string((a >> 16) & 0xFF) + '.' +
           std::to_string((a >> 8) & 0xFF) + '.' + std::to_string(a & 0xFF);
}

std::string dottedQuad(const TSockAddrIn &address) { return dottedQuad(address.sin_addr); }

int portOf(const TSockAddrIn &address) { return ntohs(address.sin_port); }

std::optional<std::uint32_t> parseDecimalQuad(std::string_view text)
{
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t digits = 0;
        unsigned part = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            part = part * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
            if (++digits > 3)
                return std::nullopt;
        }
        if (digits == 0 || part > 255)
            return std::nullopt;
        value = (value << 8) | part;
        ++parts;
        if (parts == 4)
            break;
        if (i >= text.size() || text[i] != '.')
            return std::nullopt;
        ++i;
    }
    if (i != text.size())
        return std::nullopt;
    return htonl(value);
}

std::optional<std::string> literalDatagramHost(std::string_view host)
{
    constexpr std::string_view localhost = "localhost";
    if (host.size() == localhost.size()) {
        bool same = true;
        for (std::size_t i = 0; i < host.size(); ++i)
            same = same && std::tolower(static_cast<unsigned char>(host[i])) == localhost[i];
        if (same)
            return std::string("127.0.0.1");
    }
    if (parseDecimalQuad(host))
        return std::string(host);
    return std::nullopt;
}

} // namespace bramblet
