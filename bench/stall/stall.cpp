// The program's answers to the window manager's ping (_NET_WM_PING), sent every 5 ms from
// outside through a whole SERVER link of the real program: its start-up (the splash), the
// main window's first show, the link (connect dialog, speed test, hosts file), the player
// channel under load and the close.
// Prints the longest answer per phase, for root and for the player's own user with the
// real polkit, and compares it with the goal of 50 ms.
//
//     bench_stall [root|user]...        (both when none is named)
//
// One line per user, or one line saying why it skipped (not root, no namespaces, no X
// display with a tray, no polkit). Exits non-zero when a goal is missed or a run fails.
#include "PolkitLab.h"

#include "core/playerchannel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <csignal>
#include <cstring>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

using namespace bramblet::e2e;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kGoalMs = 50.0;
constexpr auto kPingEvery = std::chrono::milliseconds(5);
constexpr int kLoadMs = 3000;
enum Phase { StartUp, FirstShow, Link, Channel, Close, PhaseCount };
const char *const kPhaseNames[PhaseCount] = {"start-up", "first show", "link", "player channel", "close"};

// Pings one window from a thread of its own; the longest answer is kept per phase, counted
// in the phase the ping was sent in. A window that does not answer counts for as long as it
// kept the ping waiting.
class Pinger {
public:
    ~Pinger() { stop(); }

    QString start(const QString &display, xcb_window_t window)
    {
        conn_ = xcb_connect(display.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(conn_))
            return QStringLiteral("cannot open display ") + display;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(conn_)).data->root;
        protocols_ = atom("WM_PROTOCOLS");
        ping_ = atom("_NET_WM_PING");
        // The answer goes to the root window for whoever watches its structure (or redirects
        // its children, as a window manager does); watching is enough.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(conn_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(conn_);
        next_ = window;
        thread_ = std::thread([this] { run(); });
        return {};
    }
    void setPhase(Phase p) { phase_ = p; }
    // Pings `window` from now on (the splash gives way to the main window).
    void retarget(xcb_window_t window) { next_ = window; }
    void stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (conn_) {
            xcb_disconnect(conn_);
            conn_ = nullptr;
        }
    }
    double longestMs(Phase p) const
    {
        const std::lock_guard lock(mutex_);
        return longest_[p];
    }
    int pings(Phase p) const
    {
        const std::lock_guard lock(mutex_);
        return count_[p];
    }
    bool windowGone() const { return gone_; }

private:
    xcb_atom_t atom(const char *name)
    {
        auto *r = xcb_intern_atom_reply(conn_, xcb_intern_atom(conn_, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }

    void record(Phase p, Clock::duration waited)
    {
        const double ms = std::chrono::duration<double, std::milli>(waited).count();
        const std::lock_guard lock(mutex_);
        if (ms > longest_[p] && qEnvironmentVariableIsSet("BENCH_STALL_DEBUG"))
            std::fprintf(stderr, "%s: %.1f ms at %.3f s\n", kPhaseNames[p], ms,
                         std::chrono::duration<double>(Clock::now() - begin_).count());
        longest_[p] = std::max(longest_[p], ms);
        ++count_[p];
    }

    void run()
    {
        const int fd = xcb_get_file_descriptor(conn_);
        std::uint32_t id = 0;
        while (!stop_) {
            if (const xcb_window_t next = next_.exchange(0)) {
                window_ = next;
                gone_ = false;
                // Told when the window goes: a ping a window left unanswered as it went is no stall.
                const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
                xcb_change_window_attributes(conn_, window_, XCB_CW_EVENT_MASK, &mask);
            }
            if (gone_) {
                std::this_thread::sleep_for(kPingEvery);
                continue;
            }
            const Phase phase = phase_;
            const auto sent = Clock::now();
            xcb_client_message_event_t ev{};
            ev.response_type = XCB_CLIENT_MESSAGE;
            ev.format = 32;
            ev.window = window_;
            ev.type = protocols_;
            ev.data.data32[0] = ping_;
            ev.data.data32[1] = ++id; // stands for the time stamp, and tells the answers apart
            ev.data.data32[2] = window_;
            xcb_send_event(conn_, 0, window_, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&ev));
            xcb_flush(conn_);
            bool answered = false;
            while (!answered && !stop_ && !gone_) {
                pollfd p{fd, POLLIN, 0};
                ::poll(&p, 1, 10);
                while (xcb_generic_event_t *e = xcb_poll_for_event(conn_)) {
                    const int type = e->response_type & 0x7f;
                    if (type == 0 ||
                        (type == XCB_DESTROY_NOTIFY &&
                         reinterpret_cast<const xcb_destroy_notify_event_t *>(e)->window == window_))
                        gone_ = true; // the window has gone
                    if (type == XCB_CLIENT_MESSAGE) {
                        const auto *m = reinterpret_cast<const xcb_client_message_event_t *>(e);
                        if (m->type == protocols_ && m->data.data32[0] == ping_ && m->data.data32[1] == id)
                            answered = true;
                    }
                    std::free(e);
                }
                if (xcb_connection_has_error(conn_))
                    gone_ = true;
            }
            if (answered || (stop_ && !gone_))
                record(phase, Clock::now() - sent);
            std::this_thread::sleep_until(sent + kPingEvery);
        }
    }

    xcb_connection_t *conn_ = nullptr;
    xcb_window_t root_ = 0, window_ = 0;
    xcb_atom_t protocols_ = 0, ping_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false}, gone_{false};
    std::atomic<xcb_window_t> next_{0};
    std::atomic<Phase> phase_{StartUp};
    mutable std::mutex mutex_;
    std::array<double, PhaseCount> longest_{};
    std::array<int, PhaseCount> count_{};
    const Clock::time_point begin_ = Clock::now();
};

// The load of the player channel: a few players sending records as fast as the program
// takes them, for `ms`. Runs inside the CLIENT's namespace (`bench_stall load HOST PORT MS`).
int load(const char *host, int port, int ms)
{
    std::vector<int> fds;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        ::inet_pton(AF_INET, host, &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            std::perror("connect");
            return 1;
        }
        fds.push_back(fd);
    }
    std::vector<std::uint8_t> stream;
    for (std::size_t size : {16u, 200u, 1400u, 9000u}) {
        const std::vector<std::uint8_t> payload(size, std::uint8_t(size));
        const auto r = bramblet::playerchannel::encodeRecord(1, 7, payload);
        stream.insert(stream.end(), r.begin(), r.end());
    }
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    long long sent = 0;
    while (Clock::now() < end)
        for (int fd : fds) {
            const ssize_t n = ::send(fd, stream.data(), stream.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                sent += n;
        }
    for (int fd : fds)
        ::close(fd);
    std::printf("%lld bytes\n", sent);
    return 0;
}

// The figures of one run, printed as one line; false when the goal was missed.
bool report(const char *who, const Pinger &pinger)
{
    bool met = true;
    QString figures;
    for (int p = 0; p < PhaseCount; ++p) {
        const double ms = pinger.longestMs(Phase(p));
        met = met && ms <= kGoalMs && pinger.pings(Phase(p)) > 0;
        figures += QStringLiteral("%1%2 %3 ms (%4 pings)")
                       .arg(p ? QStringLiteral(", ") : QString(), QString::fromLatin1(kPhaseNames[p]))
                       .arg(ms, 0, 'f', 1)
                       .arg(pinger.pings(Phase(p)));
    }
    std::printf("bench_stall %s: longest answer to the window manager's ping: %s; goal %.0f ms: %s\n", who,
                qPrintable(figures), kGoalMs, met ? "met" : "MISSED");
    std::fflush(stdout);
    return met;
}

// Pings the program's first window (the splash) from the moment it shows, then its main
// window from the first show on; the main window's id, or empty with `why` set.
QString startPinging(Pinger &pinger, const VirtualDisplay &display, qint64 pid, QString &why)
{
    QString first;
    waitFor([&] {
        const CommandResult r = display.xdotool(
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(pid)});
        first = r.exitCode == 0 ? r.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0) : QString();
        return !first.isEmpty();
    },
            30000);
    if (first.isEmpty()) {
        why = QStringLiteral("no window of the program came up");
        return {};
    }
    why = pinger.start(display.name(), first.toUInt());
    const QString window = why.isEmpty() ? display.mainWindow(30000) : QString();
    if (why.isEmpty() && window.isEmpty())
        why = QStringLiteral("the main window did not come up");
    pinger.retarget(window.toUInt());
    pinger.setPhase(FirstShow);
    return window;
}

// Drives the measured SERVER side through the phases once its window is there. `press`
// types the peer and presses SERVER; `loadChannel` runs the load inside the CLIENT's
// namespace; `end` closes the program as the session's end does (SIGTERM).
template <class Press, class Linked, class Load, class End>
QString runPhases(Pinger &pinger, const QString &uiLog, Press press, Linked linked, Load loadChannel, End end)
{
    if (!waitFor([&] { return hasLine(uiLog, QStringLiteral("balloon")); }, 60000))
        return QStringLiteral("the first show did not finish");
    QThread::msleep(500);
    pinger.setPhase(Link);
    if (!press())
        return QStringLiteral("cannot press SERVER");
    if (!waitFor(linked, 90000))
        return QStringLiteral("no link within 90 s");
    QThread::msleep(1500); // the connected balloon comes a second later
    pinger.setPhase(Channel);
    if (!loadChannel())
        return QStringLiteral("the player channel could not be loaded");
    pinger.setPhase(Close);
    end();
    QThread::msleep(200);
    pinger.stop();
    return {};
}

constexpr const char *kServerAddress = "10.79.0.1";
constexpr const char *kClientAddress = "10.79.0.2";

// As root: two real copies in two namespaces, the measured one pressing SERVER.
int runAsRoot()
{
    NamespacePair ns(QStringLiteral("st"));
    QString why = ns.create(QString::fromLatin1(kServerAddress), QString::fromLatin1(kClientAddress));
    if (!why.isEmpty()) {
        std::printf("bench_stall root: skipped: %s\n", qPrintable(why));
        return 0;
    }
    VirtualDisplay serverDisplay, clientDisplay;
    const int base = 300 + int(QRandomGenerator::global()->bounded(80)) * 2;
    why = serverDisplay.start(base);
    if (why.isEmpty())
        why = clientDisplay.start(base + 1);
    if (!why.isEmpty()) {
        std::printf("bench_stall root: skipped: no X display with a tray: %s\n", qPrintable(why));
        return 0;
    }
    ProgramCopy server, client;
    for (ProgramCopy *c : {&server, &client}) {
        why = c->prepare("127.0.0.1  localhost\n");
        if (!why.isEmpty()) {
            std::printf("bench_stall root: failed: %s\n", qPrintable(why));
            return 1;
        }
    }
    Pinger pinger;
    // The stand-in library's log of every record would be the slowest part of the channel.
    const QStringList quietLibrary{QStringLiteral("BRAMBLET_COMPANION_LOG=")};
    if (!server.start(ns.a(), serverDisplay.name(), quietLibrary) || !client.start(ns.b(), clientDisplay.name(), quietLibrary))
        why = QStringLiteral("the program cannot be started");
    const QString window = why.isEmpty() ? startPinging(pinger, serverDisplay, server.pid(), why) : QString();
    if (!why.isEmpty())
        why += QStringLiteral(": ") + server.output();
    if (why.isEmpty()) {
        const auto press = [&] {
            const QString peerWindow = clientDisplay.mainWindow(30000);
            return client.waitForFirstShow(60000) &&
                   serverDisplay.enterPeer(window, QString::fromLatin1(kClientAddress), kServerX) &&
                   clientDisplay.enterPeer(peerWindow, QString::fromLatin1(kServerAddress), kClientX);
        };
        const auto linked = [&] {
            return hasLine(server.uiLog(), QStringLiteral("hint")) && readAll(server.hostsPath()).contains(kServerAddress);
        };
        const auto loadChannel = [&] {
            return run(QStringLiteral("ip"),
                       {QStringLiteral("netns"), QStringLiteral("exec"), ns.b(), QCoreApplication::applicationFilePath(),
                        QStringLiteral("load"), QString::fromLatin1(kServerAddress), QStringLiteral("11881"),
                        QString::number(kLoadMs)},
                       kLoadMs + 10000)
                       .exitCode == 0;
        };
        why = runPhases(pinger, server.uiLog(), press, linked, loadChannel, [&] { server.stop(); });
    }
    pinger.stop();
    if (!why.isEmpty()) {
        std::printf("bench_stall root: failed: %s\n", qPrintable(why));
        return 1;
    }
    return report("root", pinger) ? 0 : 1;
}

// As a player's own user, with a private system bus and the real polkitd: a rule that takes
// 1.5 s to let the user in (a busy authority), so every polkit question at the first show
// and at the link is slow. The peer is a connect dialog in the other namespace.
int runAsUser()
{
    for (const char *tool : {"unshare", "dbus-daemon", "pkexec", "pkcheck", "pkaction", "setpriv"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::printf("bench_stall user: skipped: %s is not installed (tools/deps)\n", tool);
            return 0;
        }
    const QString peerHelper = QDir(QStringLiteral(BRAMBLET_STAGE_DIR)).filePath(QStringLiteral("tests/e2e/e2e_dialogside"));
    if (!QFile::exists(QStringLiteral("/usr/lib/polkit-1/polkitd")) || !QFile::exists(peerHelper)) {
        std::printf("bench_stall user: skipped: needs polkitd (tools/deps) and the e2e helpers built\n");
        return 0;
    }
    const PolkitLab::User user{QStringLiteral("bramstall"), 61073};
    const QString rule = QStringLiteral(
                             "polkit.addRule(function(action, subject) {\n"
                             "    if (subject.user != \"%1\") return polkit.Result.NOT_HANDLED;\n"
                             "    polkit.spawn([\"/bin/sleep\", \"1.5\"]);\n"
                             "    return polkit.Result.YES;\n"
                             "});\n")
                             .arg(user.name);
    VirtualDisplay display;
    QString why = display.start(300 + int(QRandomGenerator::global()->bounded(80)) * 2 + 1);
    if (!why.isEmpty()) {
        std::printf("bench_stall user: skipped: no X display with a tray: %s\n", qPrintable(why));
        return 0;
    }
    PolkitLab lab;
    why = lab.start({user}, rule, "127.0.0.1\tlocalhost\n");
    if (!why.isEmpty()) {
        std::printf("bench_stall user: failed: %s\n", qPrintable(why));
        return 1;
    }
    const QString uiLog = lab.session(user).uiLog();
    Pinger pinger;
    // The stand-in library's log of every record would be the slowest part of the channel.
    const qint64 guiPid = lab.startProgram(user, display.name(), {QStringLiteral("BRAMBLET_COMPANION_LOG=")});
    const QString window = guiPid > 0 ? startPinging(pinger, display, guiPid, why) : QString();
    if (window.isEmpty())
        why = QStringLiteral("the program did not come up (%1): ").arg(why) + readText(lab.session(user).home + QStringLiteral("/env.out"));
    if (why.isEmpty()) {
        const auto press = [&] {
            return lab.startPeer(peerHelper, lab.copy.root() + QStringLiteral("/peer.out")) &&
                   display.enterPeer(window, QStringLiteral("10.78.0.2"), kServerX);
        };
        const auto linked = [&] {
            return hasLine(uiLog, QStringLiteral("hint")) && readAll(lab.copy.hostsPath()).contains("10.78.0.1");
        };
        const auto loadChannel = [&] {
            return lab.ask(QStringLiteral("run plB %1 load 10.78.0.1 11881 %2")
                               .arg(QCoreApplication::applicationFilePath())
                               .arg(kLoadMs),
                           kLoadMs + 15000)
                .startsWith(QStringLiteral("done 0"));
        };
        why = runPhases(pinger, uiLog, press, linked, loadChannel, [&] {
            ::kill(pid_t(guiPid), SIGTERM);
            waitFor([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(guiPid)) ||
                                 readText(QStringLiteral("/proc/%1/stat").arg(guiPid)).contains(QStringLiteral(") Z")); },
                    15000);
        });
    }
    pinger.stop();
    lab.end();
    if (!why.isEmpty()) {
        std::printf("bench_stall user: failed: %s\n", qPrintable(why));
        return 1;
    }
    return report("user (polkit answers in 1.5 s)", pinger) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && std::strcmp(argv[1], "load") == 0)
        return load(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    QCoreApplication app(argc, argv);
    if (geteuid() != 0) {
        std::printf("bench_stall: skipped: makes network namespaces and needs root\n");
        return 0;
    }
    QStringList who = app.arguments().mid(1);
    if (who.isEmpty())
        who = {QStringLiteral("root"), QStringLiteral("user")};
    int failed = 0;
    for (const QString &w : who) {
        if (w == QStringLiteral("root"))
            failed |= runAsRoot();
        else if (w == QStringLiteral("user"))
            failed |= runAsUser();
    }
    return failed;
}
