#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bramblet {

// An IPv4 socket address laid out as the platform's: family, port and address in network
// byte order, eight zero bytes.
struct TSockAddrIn {
    std::uint16_t sin_family = 0;
    std::uint16_t sin_port = 0;
    std::uint32_t sin_addr = 0;
    std::uint8_t sin_zero[8] = {};
};
static_assert(sizeof(TSockAddrIn) == 16);

// The address part as dotted-quad text; "0.0.0.0" for an all-zero address.
std::string dottedQuad(std::uint32_t networkOrderAddress);
std::string dottedQuad(const TSockAddrIn &address);
// The port part in host order.
int portOf(const TSockAddrIn &address);

// The host text of a datagram send when it needs no name lookup: "127.0.0.1" for
// "localhost" in any letter case, the text itself when it is exactly four decimal parts of
// 0 to 255 separated by "." (address::parseDecimalQuad, leading zeros decimal); nothing
// otherwise (the text is then looked up as a name).
std::optional<std::string> literalDatagramHost(std::string_view host);

} // namespace bramblet
