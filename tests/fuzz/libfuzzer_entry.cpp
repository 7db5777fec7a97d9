// The libFuzzer entry of one target; CMake names the target with BRAMBLET_FUZZ_TARGET.
#include "fuzztargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return bramblet::fuzz::BRAMBLET_FUZZ_TARGET(data, size);
}
