#pragma once

// The real program as tests run it: the staged program installed in a folder of its own,
// with a private /etc, a runtime folder and its logs. A copy's own paths reach only the
// test's own processes, and stop() ends them all, by their process ids.

#include "support/StagedCopy.h"
#include "support/TempRuntime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

namespace bramblet::test {

struct CommandResult {
    int exitCode = -1;
    QString output;
};

// Ends a process the test started: asked to terminate, killed after `graceMs`.
inline void endProcess(QProcess &p, int graceMs)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(graceMs)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

inline CommandResult run(const QString &program, const QStringList &args, int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    CommandResult r;
    if (!p.waitForStarted(timeoutMs))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

inline CommandResult sh(const QString &script, int timeoutMs = 20000)
{
    return run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, timeoutMs);
}

inline QString readText(const QString &path) { return QString::fromUtf8(readAll(path)); }

// The fields of a log's lines of one kind, in the order written.
inline QStringList linesOf(const QString &log, const QString &kind)
{
    QStringList out;
    for (const QString &line : readText(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(kind + QLatin1Char('\t')))
            out << line.mid(kind.size() + 1);
    return out;
}

inline bool hasLine(const QString &log, const QString &kind) { return !linesOf(log, kind).isEmpty(); }

// Waits for `done` without blocking the caller's event loop for long; bounded by `timeoutMs`.
template <class F>
bool waitFor(F done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

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

// Starts `command` in the private /etc of `folder`, after the shell commands `afterMount`
// (run with /etc already replaced). `exec` keeps the process number the one started, so
// signals reach the program itself. `prefix` (a network namespace's `ip netns exec`) goes first.
inline void startWithPrivateEtc(QProcess &process, const QString &folder, const QStringList &command,
                                const QString &afterMount = {}, const QStringList &prefix = {})
{
    QString script = QStringLiteral("mount -t overlay overlay -o \"lowerdir=/etc,upperdir=$0/etc,workdir=$0/work\" /etc");
    if (!afterMount.isEmpty())
        script += QStringLiteral(" && ") + afterMount;
    script += QStringLiteral(" && exec \"$@\"");
    const QStringList line = prefix + QStringList{QStringLiteral("unshare"), QStringLiteral("-m"), QStringLiteral("--propagation"),
                                                  QStringLiteral("private"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                                  script, folder} +
                             command;
    process.start(line.first(), line.mid(1));
}

// Where one player's run of the program keeps its files: its home, runtime folder and logs.
struct ProgramSession {
    QString home;
    QString runtimeDir() const { return home + QStringLiteral("/run"); }
    QString uiLog() const { return home + QStringLiteral("/ui.log"); }
    QString companionLog() const { return home + QStringLiteral("/companion.log"); }

    bool make() const
    {
        return QDir().mkpath(runtimeDir()) &&
               QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // The program's environment as NAME=value, on `display` (none: offscreen).
    QStringList environment(const QString &display) const
    {
        QStringList env = {QStringLiteral("XDG_RUNTIME_DIR=") + runtimeDir(),
                           QStringLiteral("BRAMBLET_UI_LOG=") + uiLog(),
                           QStringLiteral("BRAMBLET_COMPANION_LOG=") + companionLog(),
                           display.isEmpty() ? QStringLiteral("QT_QPA_PLATFORM=offscreen") : QStringLiteral("QT_QPA_PLATFORM=xcb"),
                           QStringLiteral("LANG=C.UTF-8"),
                           QStringLiteral("ASAN_OPTIONS=detect_leaks=0"),
                           QStringLiteral("HOME=") + home};
        if (!display.isEmpty())
            env << QStringLiteral("DISPLAY=") + display;
        return env;
    }
};

// One copy of the program: prog/ holds the installed program, etc/ the upper layer of its
// private /etc; the copy's own session lives in its root.
class ProgramCopy {
public:
    ProgramCopy() = default;
    ProgramCopy(const ProgramCopy &) = delete;
    ProgramCopy &operator=(const ProgramCopy &) = delete;
    ~ProgramCopy() { stop(); }

    QString root() const { return dir_.path(); }
    QString programDir() const { return dir_.filePath(QStringLiteral("prog")); }
    QString etcDir() const { return dir_.filePath(QStringLiteral("etc")); }
    QString hostsPath() const { return etcDir() + QStringLiteral("/hosts"); }
    ProgramSession session() const { return {root()}; }
    QString uiLog() const { return session().uiLog(); }
    QString companionLog() const { return session().companionLog(); }
    QString runtimeDir() const { return session().runtimeDir(); }
    qint64 pid() const { return process_.processId(); }
    QProcess &process() { return process_; }
    QString output() const { return readText(dir_.filePath(QStringLiteral("output.log"))); }

    // Installs the staged program (executable, guard, Lib/, translations, help), readable by
    // every user when `forAll`, and the private /etc with `hosts`; empty when done.
    QString prepare(const QByteArray &hosts = "127.0.0.1\tlocalhost\n", bool forAll = false)
    {
        if (!dir_.isValid() || !session().make())
            return QStringLiteral("no temporary folder");
        const CommandResult r = sh(QStringLiteral("set -e; mkdir -p '%1'; cp -a '%2/Bramblet' '%2/bramblet-hosts-guard' '%2/Lib' '%1/';"
                                                  "mkdir -p '%1/translations'; cp -a '%2'/translations/*.qm '%1/translations/';"
                                                  "cp -a '%2'/*.html '%1/' 2>/dev/null || true")
                                       .arg(programDir(), stageDir()) +
                                   (forAll ? QStringLiteral("; chmod -R a+rX '%1'; chmod a+rX '%2'").arg(programDir(), root()) : QString()));
        if (r.exitCode != 0)
            return QStringLiteral("cannot install the program copy: ") + r.output;
        if (!makePrivateEtc(root()))
            return QStringLiteral("cannot make the private /etc");
        return writeAll(hostsPath(), hosts) ? QString() : QStringLiteral("cannot write the hosts file");
    }

    // Starts the copy in namespace `ns` (none: this one) on `display` (none: offscreen), after
    // the shell commands `afterMount` in its private /etc. Extra environment as NAME=value, a
    // later name winning. A backup the machine may hold is hidden by default: each copy
    // starts with none. Without `privateEtc` only for a run that ends before it reads /etc.
    bool start(const QString &ns, const QString &display, const QStringList &extraEnv = {},
               const QString &afterMount = QStringLiteral("rm -f /etc/hosts.bak"), bool privateEtc = true)
    {
        const QStringList command = QStringList{QStringLiteral("env"), QStringLiteral("-u"), QStringLiteral("DBUS_SESSION_BUS_ADDRESS")} +
                                    session().environment(display) + extraEnv +
                                    QStringList{programDir() + QStringLiteral("/Bramblet")};
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(dir_.filePath(QStringLiteral("output.log")));
        const QStringList inNamespace =
            ns.isEmpty() ? QStringList() : QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), ns};
        if (privateEtc)
            startWithPrivateEtc(process_, root(), command, afterMount, inNamespace);
        else
            process_.start(command.first(), command.mid(1));
        return process_.waitForStarted(5000);
    }

    bool waitForExit(int timeoutMs) { return process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs); }

    // Once its first show has run its checks and shown the help balloon.
    bool waitForFirstShow(int timeoutMs) const
    {
        return waitFor([&] { return hasLine(uiLog(), QStringLiteral("balloon")); }, timeoutMs);
    }

    // Ends the copy and whatever it started (its local server outlives a killed program).
    void stop()
    {
        endProcess(process_, 5000);
        if (dir_.isValid())
            endProgramsIn(programDir());
    }

private:
    QTemporaryDir dir_;
    QProcess process_;
};

} // namespace bramblet::test
