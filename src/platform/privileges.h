#pragma once

#include <QString>

namespace bramblet::platform {

// Where the rights test finds polkit's tools: by their full paths, never through PATH.
struct PolkitTools {
    QString pkexec = QStringLiteral("/usr/bin/pkexec");
    QString pkcheck = QStringLiteral("/usr/bin/pkcheck");
};

// Whether the current user can have the hosts file changed. On POSIX: root, or a user whom
// polkit lets run the hosts guard, with a password or without; false for a user it refuses
// outright, and where pkexec is missing. On Windows: the token's groups hold the
// Administrators SID.
bool IsAdministratorAccount(const PolkitTools &tools = {});

} // namespace bramblet::platform
