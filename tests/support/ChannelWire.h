#pragma once

// The player channel's bytes as its peers put them on the wire, written out here rather than
// taken from the code under test: a wrong key or header layout fails every channel test.
// No Qt, so the stand-in player links it too.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bramblet::test {

inline constexpr std::array<std::uint8_t, 4> kWireKey{0x4B, 0x1D, 0xA7, 0x62};

// Byte i of a record, header included, XORed with key byte i mod 4.
inline void scrambleWire(std::uint8_t *bytes, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] ^= kWireKey[i % 4];
}

// Flag, command, payload length most significant first, 20 zero bytes, the payload; scrambled.
inline std::vector<std::uint8_t> wireRecord(std::uint8_t flag, std::uint8_t command,
                                            const std::vector<std::uint8_t> &payload)
{
    // Sized once: GCC 12 at -O3 sees an insert after 24 bytes as a write past them.
    std::vector<std::uint8_t> r(24 + payload.size(), 0);
    r[0] = flag;
    r[1] = command;
    r[2] = static_cast<std::uint8_t>(payload.size() >> 8);
    r[3] = static_cast<std::uint8_t>(payload.size() & 0xFF);
    std::copy(payload.begin(), payload.end(), r.begin() + 24);
    scrambleWire(r.data(), r.size());
    return r;
}

} // namespace bramblet::test
