#pragma once

// IPv4 address text as the user types it and as peers send it.
//
// Values are 32-bit addresses in host order: "1.2.3.4" is 0x01020304.

#include <cstdint>
#include <string>
#include <string_view>

namespace bramblet::address {

// The value the text-to-address conversion gives for text it rejects. It is also the value
// of 255.255.255.255, so that address can never be told apart from a failure.
inline constexpr std::uint32_t InetAddrNone = 0xFFFFFFFFu;

// The longest dotted quad: "255.255.255.255".
inline constexpr std::size_t MaxDottedQuadLength = 15;

// Cleans the text of the peer-address field: drops leading and trailing characters whose
// code is 32 or less (blanks and control characters), then every space (code 32) that is
// left anywhere inside. Other control characters inside the text stay.
std::string cleanTypedAddress(std::string_view typed);

// The platform's IPv4 text-to-address conversion (`inet_addr`, as the C library on this
// system does it): one to four parts separated by dots, each part decimal, octal with a
// leading 0 or hexadecimal with 0x/0X; the last part fills the remaining bytes ("10.1" is
// 10.0.0.1, "1.2.3" is 1.2.0.3, a single number is the whole address). The text may end
// with a whitespace character, after which anything is ignored. Empty text, a part out of
// range, or any other character gives InetAddrNone.
std::uint32_t inetAddr(std::string_view text);

// True when the text is a plain dotted quad: exactly four decimal parts 0-255 of one to
// three digits, no leading zeros (a leading zero reads as octal to some parsers, and the
// hosts file reader refuses it), no other characters, at most 15 characters. This is the
// only form accepted from a peer and the only form written to the hosts file.
bool isDottedQuad(std::string_view text);

// The dotted quad of a host-order address: 0x0A000001 gives "10.0.0.1".
std::string formatDottedQuad(std::uint32_t address);

} // namespace bramblet::address
