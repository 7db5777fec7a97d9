#include "external/localserver.h"

#include "platform/components.h"

#include <QDir>
#include <QProcess>

namespace bramblet::external {

QString localServerPath(const QString &programFolder)
{
    return QDir::toNativeSeparators(programFolder + platform::localServerRelativePath());
}

QStringList localServerArguments(const QString &localAddress)
{
    return {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-a"), localAddress};
}

std::int32_t startLocalServer(const QString &programFolder, const QString &localAddress)
{
    QProcess process;
    process.setProgram(localServerPath(programFolder));
    process.setArguments(localServerArguments(localAddress));
    process.setStandardInputFile(QProcess::nullDevice());
    qint64 pid = 0;
    if (!process.startDetached(&pid))
        return 0;
    return static_cast<std::int32_t>(pid);
}

platform::EndResult stopLocalServer(const QString &programFolder, std::chrono::milliseconds bound)
{
    return platform::endProgram(localServerPath(programFolder), bound);
}

} // namespace bramblet::external
