#pragma once

#include <QString>

#include <optional>

namespace bramblet::platform {

// This machine's own IPv4 address as dotted quad: the lookup of its host name, loopback
// answers skipped, then its interfaces. None when it has no address but loopback.
std::optional<QString> localIPv4();

// The name of the interface that holds `address` (a dotted quad); empty when none does.
QString interfaceHolding(const QString &address);

} // namespace bramblet::platform
