#include "fuzztargets.h"

#include "core/peversion.h"

namespace bramblet::fuzz {

namespace {

bool isUtf8(const std::string &s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

} // namespace

int peVersion(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> input(data, size);

    // As a whole file.
    FUZZ_CHECK(isUtf8(pe::fileVersion(input)));
    const auto block = pe::versionResource(input);
    if (!block.empty())
        FUZZ_CHECK(block.data() >= data && block.data() + block.size() <= data + size);

    // As a version block alone, so the block reader is searched directly.
    FUZZ_CHECK(isUtf8(pe::fileVersionFromResource(input)));
    const std::string translation = pe::firstTranslation(input);
    FUZZ_CHECK(translation.empty() || translation.size() == 8);
    return 0;
}

} // namespace bramblet::fuzz
