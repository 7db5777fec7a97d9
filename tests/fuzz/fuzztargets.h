#pragma once

// The fuzz targets for every parser of peer input. Each takes arbitrary bytes, must never
// crash or read out of bounds, and checks the properties its parser promises; a broken
// property aborts with a message. libFuzzer runs them under clang (one executable each);
// tst_fuzzreplay runs them over seeds, mutations and random inputs in every build.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace bramblet::fuzz {

int negotiation(const std::uint8_t *data, std::size_t size);
int speedTest(const std::uint8_t *data, std::size_t size);
int playerChannel(const std::uint8_t *data, std::size_t size);
int peVersion(const std::uint8_t *data, std::size_t size);

struct Target {
    const char *name;
    int (*run)(const std::uint8_t *, std::size_t);
};

inline constexpr Target Targets[] = {
    {"negotiation", negotiation},
    {"speedtest", speedTest},
    {"playerchannel", playerChannel},
    {"peversion", peVersion},
};

// Well-formed inputs of a target, to start the search from.
std::vector<std::vector<std::uint8_t>> seeds(std::string_view target);

[[noreturn]] void fail(const char *condition, const char *file, int line);

// The input being run, printed in hex when a property breaks (the replay test sets it;
// libFuzzer saves failing inputs by itself).
void setCurrentInput(const std::uint8_t *data, std::size_t size);

// A small deterministic generator, so a target can cut its input the same way every run.
class Splitter {
public:
    explicit Splitter(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

private:
    std::uint32_t state_;
};

} // namespace bramblet::fuzz

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::bramblet::fuzz::fail(#condition, __FILE__, __LINE__);                                                    \
    } while (0)
