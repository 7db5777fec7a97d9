#pragma once

// No Qt here: the hosts guard, a small program of its own, is built from this and the core.
#include "core/hostsfile.h"

#include <filesystem>

namespace bramblet::platform {

// The system's hosts file (Linux: /etc/hosts; Windows: %SystemRoot%\system32\drivers\etc\hosts).
// Nothing redirects it: only the hosts guard writes it, and the guard trusts no caller.
std::filesystem::path hostsPath();

// Line ends and the STUN-line rule of this system.
hosts::HostsStyle hostsStyle();

// The real file operations of this system, shared by the whole program.
hosts::HostsFileOps &hostsFileOps();

} // namespace bramblet::platform
