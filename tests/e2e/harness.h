#pragma once

// Drives copies of the real program as a player would: each copy in a network namespace of
// its own, with a private copy of /etc (so its hosts file and the backup beside it are its
// own), its own runtime folder, its own X display with a tray host, and the stand-in
// companion components. Everything is checked from outside.

#include "support/ProgramCopy.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace bramblet::e2e {

using namespace bramblet::test;

inline const QString kMainTitle = QStringLiteral("Quorrel2008 Online v.4");

// Centres of the address field and the two buttons, in the main window's client pixels.
constexpr int kFieldX = 8 + 112 + 88, kFieldY = 8 + 37 + 10;
constexpr int kServerX = 40 + 49, kButtonY = 112 + 24, kClientX = 200 + 49;

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
        for (QProcess *p : {&tray_, &xvfb_})
            endProcess(*p, 3000);
    }
    QString name() const { return display_; }

    CommandResult xdotool(const QStringList &args) const
    {
        return run(QStringLiteral("env"), QStringList{QStringLiteral("DISPLAY=") + display_, QStringLiteral("xdotool")} + args);
    }
    // The main window once it shows within `timeoutMs`, or empty.
    QString mainWindow(int timeoutMs = 10000) const
    {
        QString window;
        waitFor([&] { return !(window = findWindow(kMainTitle)).isEmpty(); }, timeoutMs);
        return window;
    }
    // Types `peer` into the main window's address field and presses the button at `buttonX`,
    // as a player would.
    bool enterPeer(const QString &window, const QString &peer, int buttonX) const
    {
        return !window.isEmpty() && clickAt(window, kFieldX, kFieldY) && type(window, peer) && clickAt(window, buttonX, kButtonY);
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

} // namespace bramblet::e2e
