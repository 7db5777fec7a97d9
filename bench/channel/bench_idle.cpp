// Resident memory of the main window's player channel holding 1,000 open loopback
// connections that each sent one byte, against the same window with the channel idle.
// Prints one line.
//
// Build and run in Release:
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/bench
//   build/bench/bench/channel/bench_idle

#include "app/MessageService.h"
#include "app/UnitDuetra.h"
#include "support/QuietDesktop.h"

#include <QApplication>
#include <QElapsedTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "../loopback.h"

using namespace bramblet;

namespace {

constexpr int connections = 1000;
// The channel listens with a short backlog: connect no more at once than it holds.
constexpr int batch = 4;

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

class CountingMessages : public IMessageService {
public:
    void show(QWidget *, const QString &text, const QString &, MessageIcon) override
    {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
    }
};

// Runs the event loop until `done` holds or `seconds` have passed.
template <typename Done> bool runUntil(Done done, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "%s\n", what);
    std::exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!std::getenv("QT_LOGGING_RULES"))
        ::setenv("QT_LOGGING_RULES", "qt.core.qobject.connect=false", 1);
    // Both ends of every connection live in this process.
    rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const rlim_t want = 2 * connections + 256;
    if (files.rlim_cur < want) {
        files.rlim_cur = files.rlim_max == RLIM_INFINITY || files.rlim_max >= want ? want : files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur < want)
            fail("the open-file limit is too low for both ends of 1,000 connections");
    }
    QApplication app(argc, argv);
    CountingMessages messages;
    MainFormServices services;
    services.messages = &messages;
    services.playerChannelPort = bench::freePort();
    test::quietDesktop(services);
    TBrambletMainForm form(services);
    form.ActivatePlayerChannel();

    int reads = 0;
    const TSocketNotifyEvent read = form.ServerSocket1->OnClientRead;
    form.ServerSocket1->OnClientRead = [&](QObject *sender, TCustomWinSocket *socket) {
        read(sender, socket);
        ++reads;
    };
    runUntil([] { return false; }, 1); // let start-up allocations settle
    const long idle = residentKiB();

    std::vector<int> clients;
    clients.reserve(connections);
    const sockaddr_in to = bench::loopback(services.playerChannelPort);
    while (static_cast<int>(clients.size()) < connections) {
        for (int i = 0; i < batch && static_cast<int>(clients.size()) < connections; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd < 0)
                fail("socket failed");
            ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
            clients.push_back(fd);
        }
        const int count = static_cast<int>(clients.size());
        if (!runUntil([&] { return form.ServerSocket1->Socket()->ActiveConnections() >= count; }, 30))
            fail("the channel did not accept the connections");
    }
    for (const int fd : clients)
        if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1)
            fail("send failed");
    if (!runUntil([&] { return reads >= connections; }, 60))
        fail("the channel did not read every connection");
    runUntil([] { return false; }, 1);
    const long loaded = residentKiB();
    if (form.ServerSocket1->Socket()->ActiveConnections() != connections)
        fail("connections were lost");

    const double above = static_cast<double>(loaded - idle) / 1024.0;
    const bool met = above < 20.0;
    std::printf("player channel, %d open connections that each sent one byte: %.1f MB resident above idle "
                "(%.1f MB idle) (goal: under 20 MB) %s\n",
        connections, above, static_cast<double>(idle) / 1024.0, met ? "met" : "MISSED");
    for (const int fd : clients)
        ::close(fd);
    form.DeactivatePlayerChannel();
    return met ? 0 : 1;
}
