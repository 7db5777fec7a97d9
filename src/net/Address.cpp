#include "net/Address.h"

#include "core/address.h"

#include <arpa/inet.h>

#include <cctype>

namespace bramblet {

std::string dottedQuad(std::uint32_t networkOrderAddress)
{
    return address::formatDottedQuad(ntohl(networkOrderAddress));
}

std::string dottedQuad(const TSockAddrIn &address) { return dottedQuad(address.sin_addr); }

int portOf(const TSockAddrIn &address) { return ntohs(address.sin_port); }

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
    if (address::parseDecimalQuad(host, address::LeadingZeros::Decimal))
        return std::string(host);
    return std::nullopt;
}

} // namespace bramblet
