#pragma once

// The negotiation messages exchanged on TCP port 9001 before a link starts, and the
// per-connection reassembly of their stream.
//
// Every message starts with its type, a 32-bit signed integer, least significant byte first;
// there is no length field, the type alone gives the size.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace bramblet::negotiation {

inline constexpr std::uint16_t Port = 9001;

inline constexpr std::int32_t HelloType = 0;
inline constexpr std::int32_t AddressType = 1;
inline constexpr std::int32_t PortRequestType = 2;

inline constexpr std::size_t HelloSize = 8;
inline constexpr std::size_t AddressSize = 36;
inline constexpr std::size_t PortRequestSize = 4;
inline constexpr std::size_t AddressFieldSize = 32;
inline constexpr std::size_t MaxMessageSize = AddressSize;

// CLIENT to SERVER: type 0 and the sender's role (2 for a CLIENT; the SERVER does not read it).
struct NegHello {
    std::int32_t role = 0;
    friend bool operator==(const NegHello &, const NegHello &) = default;
};

// Both ways: type 1 and a 32-byte field holding the receiver's address as the sender sees
// it. A parsed NegAddress always holds a valid dotted quad (address::isDottedQuad).
struct NegAddress {
    std::string address;
    friend bool operator==(const NegAddress &, const NegAddress &) = default;
};

// SERVER to CLIENT: type 2 alone.
struct NegPortRequest {
    friend bool operator==(const NegPortRequest &, const NegPortRequest &) = default;
};

using Message = std::variant<NegHello, NegAddress, NegPortRequest>;

// 00 00 00 00 followed by the role; a CLIENT's hello is 00 00 00 00 02 00 00 00.
std::array<std::uint8_t, HelloSize> encodeHello(std::int32_t role);

// 01 00 00 00, then the address text zero-terminated and zero-padded to 32 bytes.
// Throws bramblet::Error when the text is not a dotted quad: nothing else may go on the wire.
std::array<std::uint8_t, AddressSize> encodeAddress(std::string_view dottedQuad);

// 02 00 00 00.
std::array<std::uint8_t, PortRequestSize> encodePortRequest();

// The bytes of any message, for callers that hold a Message.
std::vector<std::uint8_t> encode(const Message &message);

enum class ParseStatus {
    Ok,         // `message` holds the message; `size` bytes were used
    Incomplete, // the bytes begin a message but do not hold all of it yet; `size` is 0
    Malformed,  // the bytes must be dropped: `size` is how many (see parse)
};

struct ParseResult {
    ParseStatus status = ParseStatus::Incomplete;
    Message message;
    std::size_t size = 0;
};

// Parses the message at the start of `bytes`.
// - fewer than 4 bytes, or fewer than the type's size: Incomplete;
// - an unknown type: Malformed, size = bytes.size() (the stream's framing is lost, so
//   everything at hand goes);
// - a NegAddress whose field is not a dotted quad of at most 15 characters followed by a zero
//   byte within the 32 bytes: Malformed, size = 36 (the message alone is dropped).
ParseResult parse(std::span<const std::uint8_t> bytes);

// Cuts one connection's byte stream into messages. A message split over several reads, or
// several messages in one read, come out exactly as if each had arrived alone. Malformed
// messages are dropped as parse() says; an unknown type drops what is buffered and the rest
// of that read. At most MaxMessageSize - 1 bytes stay buffered between reads.
class Reassembler {
public:
    // Takes the bytes of one read; returns the whole messages they complete, in stream order.
    std::vector<Message> feed(std::span<const std::uint8_t> bytes);

    // Forgets any partial message (for a new connection).
    void reset() noexcept { length_ = 0; }

    // Bytes of a partial message waiting for the rest.
    std::size_t buffered() const noexcept { return length_; }

private:
    std::array<std::uint8_t, MaxMessageSize> buffer_{};
    std::size_t length_ = 0;
};

} // namespace bramblet::negotiation
