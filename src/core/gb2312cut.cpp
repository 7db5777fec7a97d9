#include "core/gb2312cut.h"

namespace bramblet {

std::string_view cutGb2312(std::string_view gb2312, std::size_t limit) noexcept
{
    std::size_t kept = 0;
    while (kept < gb2312.size()) {
        const auto lead = static_cast<unsigned char>(gb2312[kept]);
        const std::size_t width = lead >= 0x81 ? 2 : 1;
        if (kept + width > limit || kept + width > gb2312.size())
            break;
        kept += width;
    }
    return gb2312.substr(0, kept);
}

} // namespace bramblet
