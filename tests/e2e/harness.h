#pragma once

// Drives copies of the real program as a player would: each copy in a network namespace of
// its own, with a private copy of /etc (so its hosts file and the backup beside it are its
// own), its own runtime folder, its own X display with a tray host, and the stand-in
// companion components. Everything is checked from outside.

#include "support/PrivateEtc.h"
#include "support/StagedCopy.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>
#include <optional>

namespace bramblet::e2e {

struct CommandResult {
    int exitCode = -1;
    QString output;
};

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

inline QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Centres of the address field and the two buttons, in the main window's client pixels.
constexpr int kFieldX = 8 + 112 + 88, kFieldY = 8 + 37 + 10;
constexpr int kServerX = 40 + 49, kButtonY = 112 + 24, kClientX = 200 + 49;

// The fields of the interface log's lines of one kind, in the order written.
inline QStringList linesOf(const QString &log, const QString &kind)
{
    QStringList out;
    for (const QString &line : readText(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(kind + QLatin1Char('\t')))
            out << line.mid(kind.size() + 1);
    return out;
}

inline QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

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

// Two network namespaces joined by a veth pair, no route out.
class NamespacePair {
public:
    // The names carry this process's id, so two runs at once (two checkouts) keep apart;
    // short enough that "<name>v" still fits an interface name.
    NamespacePair(const QString &tag)
        : a_(QStringLiteral("bra%1%2a").arg(tag).arg(QCoreApplication::applicationPid() % 100000)),
          b_(QStringLiteral("bra%1%2b").arg(tag).arg(QCoreApplication::applicationPid() % 100000))
    {
    }
    ~NamespacePair() { remove(); }

    // Empty when the namespaces are up; otherwise why not.
    QString create(const QString &addrA, const QString &addrB)
    {
        remove();
        const QString script = QStringLiteral(
                                   "set -e; ip netns add %1; ip netns add %2;"
                                   "ip link add %1v type veth peer name %2v;"
                                   "ip link set %1v netns %1; ip link set %2v netns %2;"
                                   "ip -n %1 addr add %3/24 dev %1v; ip -n %2 addr add %4/24 dev %2v;"
                                   "ip -n %1 link set lo up; ip -n %2 link set lo up;"
                                   "ip -n %1 link set %1v up; ip -n %2 link set %2v up")
                                   .arg(a_, b_, addrA, addrB);
        const CommandResult r = sh(script);
        if (r.exitCode != 0) {
            remove();
            return QStringLiteral("cannot create network namespaces: ") + r.output.trimmed();
        }
        created_ = true;
        return {};
    }
    void remove()
    {
        sh(QStringLiteral("ip netns del %1 2>/dev/null; ip netns del %2 2>/dev/null; true").arg(a_, b_));
        created_ = false;
    }
    QString a() const { return a_; }
    QString b() const { return b_; }

private:
    QString a_, b_;
    bool created_ = false;
};

// An Xvfb display with a tray host on it.
class VirtualDisplay {
public:
    ~VirtualDisplay() { stop(); }
    QString start(int number, bool withTray = true)
    {
        display_ = QStringLiteral(":%1").arg(number);
        xvfb_.start(QStringLiteral("Xvfb"), {display_, QStringLiteral("-screen"), QStringLiteral("0"),
                                             QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                             QStringLiteral("tcp")});
        if (!xvfb_.waitForStarted(5000))
            return QStringLiteral("Xvfb cannot be started");
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (!waitFor([&] { return QFile::exists(socket); }, 5000))
            return QStringLiteral("Xvfb did not open its display");
        if (withTray) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display_);
            tray_.setProcessEnvironment(env);
            tray_.start(QStringLiteral("trayer"), {QStringLiteral("--edge"), QStringLiteral("top"),
                                                   QStringLiteral("--align"), QStringLiteral("right"),
                                                   QStringLiteral("--widthtype"), QStringLiteral("request")});
            if (!tray_.waitForStarted(5000))
                return QStringLiteral("trayer cannot be started");
            QThread::msleep(300);
        }
        return {};
    }
    void stop()
    {
        for (QProcess *p : {&tray_, &xvfb_}) {
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(3000)) {
                    p->kill();
                    p->waitForFinished(2000);
                }
            }
        }
    }
    QString name() const { return display_; }

    CommandResult xdotool(const QStringList &args) const
    {
        return run(QStringLiteral("env"), QStringList{QStringLiteral("DISPLAY=") + display_, QStringLiteral("xdotool")} + args);
    }
    // The window id of the first window whose title is exactly `title`, or empty.
    QString findWindow(const QString &title) const
    {
        const CommandResult r = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                         QStringLiteral("--name"), QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$')});
        return r.exitCode == 0 ? r.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0) : QString();
    }
    bool clickAt(const QString &window, int x, int y) const
    {
        return xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window, QString::number(x), QString::number(y),
                        QStringLiteral("click"), QStringLiteral("1")})
                   .exitCode == 0;
    }
    bool type(const QString &window, const QString &text) const
    {
        return xdotool({QStringLiteral("type"), QStringLiteral("--window"), window, QStringLiteral("--delay"),
                        QStringLiteral("30"), text})
                   .exitCode == 0;
    }
    bool screenshot(const QString &path) const
    {
        return run(QStringLiteral("env"), {QStringLiteral("DISPLAY=") + display_, QStringLiteral("import"),
                                           QStringLiteral("-window"), QStringLiteral("root"), path})
                   .exitCode == 0;
    }

private:
    QString display_;
    QProcess xvfb_;
    QProcess tray_;
};

// One copy of the program installed in a folder of its own and started inside a namespace,
// with a private /etc (an overlay whose upper layer is etcDir()) in a mount namespace of its own.
class ProgramCopy {
public:
    explicit ProgramCopy(const QString &name) : name_(name) {}
    ~ProgramCopy() { stop(); }

    QString root() const { return dir_.path(); }
    QString programDir() const { return dir_.filePath(QStringLiteral("prog")); }
    QString etcDir() const { return dir_.filePath(QStringLiteral("etc")); }
    QString hostsPath() const { return etcDir() + QStringLiteral("/hosts"); }
    QString uiLog() const { return dir_.filePath(QStringLiteral("ui.log")); }
    QString companionLog() const { return dir_.filePath(QStringLiteral("companion.log")); }
    QString runtimeDir() const { return dir_.filePath(QStringLiteral("run")); }
    qint64 pid() const { return process_.processId(); }
    QProcess &process() { return process_; }

    // Installs the staged program (executable, Lib/, help) and the private /etc; empty when done.
    QString prepare(const QString &stageDir, const QByteArray &hostsContent)
    {
        if (!dir_.isValid())
            return QStringLiteral("no temporary folder");
        QDir().mkpath(runtimeDir());
        QFile::setPermissions(runtimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const CommandResult r = sh(QStringLiteral("set -e; mkdir -p '%1'; cp -a '%2/Bramblet' '%2/bramblet-hosts-guard' '%2/Lib' '%1/';"
                                                  "mkdir -p '%1/translations'; cp -a '%2'/translations/*.qm '%1/translations/';"
                                                  "cp -a '%2'/*.html '%1/' 2>/dev/null || true")
                                       .arg(programDir(), stageDir));
        if (r.exitCode != 0)
            return QStringLiteral("cannot install the program copy: ") + r.output;
        if (!bramblet::test::makePrivateEtc(root()))
            return QStringLiteral("cannot make the private /etc");
        return writeBytes(hostsPath(), hostsContent) ? QString() : QStringLiteral("cannot write the hosts file");
    }

    // Starts the copy in namespace `ns` (none: this one) on `display` (none: offscreen), after
    // the shell commands `afterMount` in its private /etc. Extra environment as NAME=value.
    // A backup the machine may hold is hidden by default: each copy starts with none.
    bool start(const QString &ns, const QString &display, const QStringList &extraEnv = {},
               const QString &afterMount = QStringLiteral("rm -f /etc/hosts.bak"))
    {
        QStringList env = {QStringLiteral("XDG_RUNTIME_DIR=") + runtimeDir(),
                           QStringLiteral("BRAMBLET_UI_LOG=") + uiLog(),
                           QStringLiteral("BRAMBLET_COMPANION_LOG=") + companionLog(),
                           display.isEmpty() ? QStringLiteral("QT_QPA_PLATFORM=offscreen") : QStringLiteral("QT_QPA_PLATFORM=xcb"),
                           QStringLiteral("LANG=C.UTF-8"),
                           QStringLiteral("ASAN_OPTIONS=detect_leaks=0"),
                           QStringLiteral("HOME=") + root()};
        if (!display.isEmpty())
            env << QStringLiteral("DISPLAY=") + display;
        env += extraEnv;
        const QStringList command = QStringList{QStringLiteral("env"), QStringLiteral("-u"), QStringLiteral("DBUS_SESSION_BUS_ADDRESS")} +
                                    env + QStringList{programDir() + QStringLiteral("/Bramblet")};
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(dir_.filePath(QStringLiteral("output.log")));
        QStringList line = bramblet::test::privateEtcCommand(root(), command, afterMount);
        if (!ns.isEmpty())
            line = QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), ns} + line;
        process_.start(line.first(), line.mid(1));
        return process_.waitForStarted(5000);
    }

    QString output() const { return readText(dir_.filePath(QStringLiteral("output.log"))); }

    bool waitForExit(int timeoutMs) { return process_.state() == QProcess::NotRunning || process_.waitForFinished(timeoutMs); }

    // Ends the copy and whatever it started (its local server outlives a killed program).
    void stop()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(3000);
            }
        }
        if (dir_.isValid())
            bramblet::test::endProgramsIn(programDir());
    }

private:
    QString name_;
    QTemporaryDir dir_;
    QProcess process_;
};

} // namespace bramblet::e2e
