// Writes the seed inputs of every fuzz target into DIR/<target>/, for libFuzzer runs:
//   write_seeds corpus && fuzz_negotiation corpus/negotiation -max_total_time=60
#include "fuzztargets.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    for (const auto &target : bramblet::fuzz::Targets) {
        const std::filesystem::path dir = std::filesystem::path(argv[1]) / target.name;
        std::filesystem::create_directories(dir);
        int n = 0;
        for (const auto &seed : bramblet::fuzz::seeds(target.name)) {
            std::ofstream out(dir / ("seed" + std::to_string(n++)), std::ios::binary);
            out.write(reinterpret_cast<const char *>(seed.data()), static_cast<std::streamsize>(seed.size()));
        }
    }
    return 0;
}
