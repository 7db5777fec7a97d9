#pragma once

namespace bramblet::platform {

// Whether the current user can have the hosts file changed. On POSIX: root, or a user whom
// polkit lets run the hosts guard, with a password or without; false for a user it refuses
// outright, and where pkexec is missing. On Windows: the token's groups hold the
// Administrators SID.
bool IsAdministratorAccount();

} // namespace bramblet::platform
