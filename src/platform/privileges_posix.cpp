#include "platform/privileges.h"

#include "platform/eventwait.h"
#include "platform/hostsguard.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <unistd.h>

namespace bramblet::platform {

bool IsAdministratorAccount(const PolkitTools &tools)
{
    if (::geteuid() == 0)
        return true;
    if (!QFileInfo(tools.pkexec).isExecutable() || !QFileInfo(tools.pkcheck).isExecutable())
        return false;
    // Asked without blocking: a busy authority must not freeze the window at its first show.
    const auto outcome = runProcess(tools.pkcheck, {QStringLiteral("--action-id"), hostsGuardAction(hostsGuardPath(programFolder())),
                                                    QStringLiteral("--process"), QString::number(QCoreApplication::applicationPid())},
                                    10000);
    if (!outcome)
        return false;
    // 0: authorised; 2: authorised once the user authenticates. 1 is a refusal; anything
    // else means polkit could not be asked, and pkexec would fail the same way.
    return outcome->exitCode == 0 || outcome->exitCode == 2;
}

} // namespace bramblet::platform
