#include "core/localaddress.h"

namespace bramblet {

bool isLoopbackIPv4(std::uint32_t address) { return (address >> 24) == 127; }

std::optional<std::uint32_t> chooseLocalIPv4(const std::vector<std::uint32_t> &hostNameAnswers,
                                             const std::vector<std::uint32_t> &interfaceAddresses)
{
    // 0.0.0.0 is nobody's address; a peer could not reach us there.
    for (const auto *list : {&hostNameAnswers, &interfaceAddresses}) {
        for (std::uint32_t a : *list) {
            if (a != 0 && !isLoopbackIPv4(a))
                return a;
        }
    }
    return std::nullopt;
}

} // namespace bramblet
