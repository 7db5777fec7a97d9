#pragma once

#include <cstddef>
#include <string_view>

namespace bramblet {

// Byte limits of the tray's texts, counted in GB2312 bytes without the terminating zero.
inline constexpr std::size_t kTrayTipBytes = 127;
inline constexpr std::size_t kBalloonTextBytes = 255;
inline constexpr std::size_t kBalloonTitleBytes = 63;

// The longest prefix of `gb2312` that fits into `limit` bytes and ends on a character
// boundary. A byte of 0x81 or above leads a two-byte character; the cut never keeps its
// first half alone, and a lead byte with no second byte (broken input) is dropped too.
std::string_view cutGb2312(std::string_view gb2312, std::size_t limit) noexcept;

} // namespace bramblet
