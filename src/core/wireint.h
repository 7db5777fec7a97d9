#pragma once

#include <cstdint>

namespace bramblet::wire {

// The negotiation and the speed test carry 32-bit signed integers, least significant byte first.
inline void putInt32(std::uint8_t *out, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

inline std::int32_t getInt32(const std::uint8_t *in)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

} // namespace bramblet::wire
