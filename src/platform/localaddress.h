#pragma once

#include <QString>

#include <optional>

namespace bramblet::platform {

// This machine's own IPv4 address as dotted quad: the lookup of its host name, loopback
// answers skipped, then its interfaces. None when it has no address but loopback.
std::optional<QString> localIPv4();

} // namespace bramblet::platform
