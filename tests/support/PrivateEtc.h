#pragma once

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <unistd.h>

namespace bramblet::test {

// The real program and its hosts guard always act on /etc/hosts. Tests run them in a mount
// namespace of their own whose /etc is an overlay of the machine's: reads fall through to
// it, every change lands in `folder`/etc, and the machine's /etc is never touched.

// Why such a run cannot be made here; empty when it can.
inline QString privateEtcUnavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("a private /etc needs a mount namespace, which needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
        return QStringLiteral("unshare is not installed");
    return {};
}

// Makes `folder`/etc (the upper layer: files put there hide the machine's) and `folder`/work.
inline bool makePrivateEtc(const QString &folder)
{
    return QDir().mkpath(folder + QStringLiteral("/etc")) && QDir().mkpath(folder + QStringLiteral("/work"));
}

// The command line that runs `command` in the private /etc of `folder`, after the shell
// commands `afterMount` (run with /etc already replaced). `exec` keeps the process number
// the one started, so signals reach the program itself.
inline QStringList privateEtcCommand(const QString &folder, const QStringList &command, const QString &afterMount = {})
{
    QString script = QStringLiteral("mount -t overlay overlay -o \"lowerdir=/etc,upperdir=$0/etc,workdir=$0/work\" /etc");
    if (!afterMount.isEmpty())
        script += QStringLiteral(" && ") + afterMount;
    script += QStringLiteral(" && exec \"$@\"");
    return QStringList{QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("--propagation"),
                       QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"), script, folder} +
           command;
}

inline void startWithPrivateEtc(QProcess &process, const QString &folder, const QStringList &command,
                                const QString &afterMount = {})
{
    const QStringList line = privateEtcCommand(folder, command, afterMount);
    process.start(line.first(), line.mid(1));
}

} // namespace bramblet::test
