#include "fuzztargets.h"

#include <cstdio>
#include <cstdlib>

namespace bramblet::fuzz {

namespace {
const std::uint8_t *currentData = nullptr;
std::size_t currentSize = 0;
} // namespace

void setCurrentInput(const std::uint8_t *data, std::size_t size)
{
    currentData = data;
    currentSize = size;
}

void fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, condition);
    if (currentData) {
        std::fprintf(stderr, "input (%zu bytes):", currentSize);
        for (std::size_t i = 0; i < currentSize && i < 512; ++i)
            std::fprintf(stderr, "%s%02x", i % 32 ? "" : "\n  ", currentData[i]);
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

} // namespace bramblet::fuzz
