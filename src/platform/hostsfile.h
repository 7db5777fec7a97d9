#pragma once

#include "core/hostsfile.h"

#include <QString>

namespace bramblet::platform {

// The system's hosts file (Linux: /etc/hosts; BRAMBLET_HOSTS_FILE names another file for
// tests of the real program). Windows: %SystemRoot%\system32\drivers\etc\hosts.
QString hostsPath();

// Line ends and the STUN-line rule of this system.
hosts::HostsStyle hostsStyle();

// The real file operations of this system, shared by the whole program.
hosts::HostsFileOps &hostsFileOps();

} // namespace bramblet::platform
