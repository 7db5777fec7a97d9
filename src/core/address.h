#pragma once

// IPv4 address text as the user types it and as peers send it.
//
// Values are 32-bit addresses in host order: "1.2.3.4" is 0x01020304.

#include <cstdint>
#include <optional>
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

// Whether a part of a dotted quad may start with 0.
enum class LeadingZeros {
    Refused, // "010" is no part: a leading zero reads as octal to some parsers
    Decimal, // "010" is ten
};

// Exactly four decimal parts 0-255 of one to three digits separated by ".", nothing else, to
// a host-order address. The one dotted-quad rule; `zeros` says whether a part may start with
// 0. Refused is the plain dotted quad (isDottedQuad); Decimal is the host rule of a datagram
// send, whose text is used unchanged when it matches and looked up as a name otherwise.
std::optional<std::uint32_t> parseDecimalQuad(std::string_view text, LeadingZeros zeros);

// True when the text is a plain dotted quad: parseDecimalQuad with leading zeros refused, so
// at most 15 characters. This is the only form accepted from a peer, the only form written
// to the hosts file, and the form the socket layer binds to.
bool isDottedQuad(std::string_view text);

// The dotted quad of a host-order address: 0x0A000001 gives "10.0.0.1".
std::string formatDottedQuad(std::uint32_t address);

} // namespace bramblet::address
