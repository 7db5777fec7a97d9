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

// The real file operations of this system, shared by the whole program. A hosts path that
// is a symbolic link is resolved once, through followTrusted, and its folder held open.
hosts::HostsFileOps &hostsFileOps();

// `path` with every symbolic link on the way followed, checking each folder, link and the
// file itself to be owned by root and writable by nobody else (a root-owned folder with the
// sticky bit, such as /tmp, is safe for what root put in it). Throws bramblet::Error naming
// the first entry that is not. The last entry need not exist.
std::filesystem::path followTrusted(const std::filesystem::path &path);

} // namespace bramblet::platform
