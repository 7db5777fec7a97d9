#include "platform/privileges.h"

#include "platform/hostsguard.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QProcess>
#include <QFileInfo>

#include <unistd.h>

namespace bramblet::platform {

bool IsAdministratorAccount(const PolkitTools &tools)
{
    if (::geteuid() == 0)
        return true;
    if (!QFileInfo(tools.pkexec).isExecutable() || !QFileInfo(tools.pkcheck).isExecutable())
        return false;
    QProcess p;
    p.start(tools.pkcheck, {QStringLiteral("--action-id"), hostsGuardAction(hostsGuardPath(programFolder())),
                      QStringLiteral("--process"), QString::number(QCoreApplication::applicationPid())});
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished(2000);
        return false;
    }
    // 0: authorised; 2: authorised once the user authenticates. 1 is a refusal; anything
    // else means polkit could not be asked, and pkexec would fail the same way.
    return p.exitCode() == 0 || p.exitCode() == 2;
}

} // namespace bramblet::platform
