#pragma once

namespace bramblet::platform {

// Whether the current user may change system files such as the hosts file: on POSIX the
// effective user is root; on Windows the token's groups hold the Administrators SID.
bool IsAdministratorAccount();

} // namespace bramblet::platform
