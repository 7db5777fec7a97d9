#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bramblet {

// IPv4 addresses here are in host order: 127.0.0.1 is 0x7F000001.

bool isLoopbackIPv4(std::uint32_t address);

// This machine's own address: the first answer of the lookup of its host name that is not
// a loopback address (Debian maps the host name to 127.0.1.1), else the first non-loopback
// address of its interfaces, in the order given. None when neither has one.
std::optional<std::uint32_t> chooseLocalIPv4(const std::vector<std::uint32_t> &hostNameAnswers,
                                             const std::vector<std::uint32_t> &interfaceAddresses);

} // namespace bramblet
