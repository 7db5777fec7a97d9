// Pushes 100 MB through TServerSocket read events in 1000-byte receives and through a plain
// blocking recv loop of the same size, and measures the CPU that ten idle connections cost
// over 5 s. Prints one line of figures.

#include "net/TcpSockets.h"

#include <QCoreApplication>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "../loopback.h"

using namespace bramblet;

namespace {

constexpr long long totalBytes = 100LL * 1000 * 1000;
constexpr int readSize = 1000;
constexpr int runs = 9;

using bench::freePort;
using bench::loopback;

// Connects to the port and writes totalBytes in large blocks.
void sendAll(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    std::vector<char> block(256 * 1024, 'b');
    long long left = totalBytes;
    while (left > 0) {
        const ssize_t n = ::send(fd, block.data(), std::size_t(std::min<long long>(left, long(block.size()))), MSG_NOSIGNAL);
        if (n <= 0)
            break;
        left -= n;
    }
    ::close(fd);
}

bench::Span eventSpan()
{
    TServerSocket server;
    const std::uint16_t port = freePort();
    server.SetPort(port);
    long long received = 0;
    server.OnClientRead = [&](QObject *, TCustomWinSocket *socket) {
        char buffer[readSize + 1];
        const int n = socket->ReceiveBytes(buffer, readSize);
        if (n > 0)
            received += n;
        if (received >= totalBytes)
            QCoreApplication::quit();
    };
    server.SetActive(true);
    bench::Span span;
    std::thread sender(sendAll, port);
    QCoreApplication::exec();
    span.stop();
    sender.join();
    return span;
}

bench::Span plainSpan()
{
    std::uint16_t port = 0;
    const int listener = bench::listenOnLoopback(port);
    bench::Span span;
    std::thread sender(sendAll, port);
    const int fd = ::accept(listener, nullptr, nullptr);
    long long received = 0;
    char buffer[readSize + 1];
    while (received < totalBytes) {
        const ssize_t n = ::recv(fd, buffer, readSize, 0);
        if (n <= 0)
            break;
        received += n;
    }
    span.stop();
    sender.join();
    ::close(fd);
    ::close(listener);
    return span;
}

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU used while ten connected pairs stay idle for 5 s.
double idleCpuSeconds()
{
    TServerSocket server;
    const std::uint16_t port = freePort();
    server.SetPort(port);
    server.SetActive(true);
    std::vector<std::unique_ptr<TClientSocket>> clients;
    int connected = 0;
    int accepted = 0;
    server.OnAccept = [&](QObject *, TCustomWinSocket *) {
        if (++accepted == 10 && connected == 10)
            QCoreApplication::quit();
    };
    for (int i = 0; i < 10; ++i) {
        auto c = std::make_unique<TClientSocket>();
        c->SetAddress("127.0.0.1");
        c->SetPort(port);
        c->OnConnect = [&](QObject *, TCustomWinSocket *) {
            if (++connected == 10 && accepted == 10)
                QCoreApplication::quit();
        };
        c->SetActive(true);
        clients.push_back(std::move(c));
    }
    QTimer::singleShot(5000, [] { QCoreApplication::quit(); }); // bound in time
    QCoreApplication::exec();
    if (connected != 10 || server.Socket()->ActiveConnections() != 10) {
        std::fprintf(stderr, "only %d connections\n", std::min(connected, accepted));
        std::exit(1);
    }
    const double before = cpuSeconds();
    QTimer::singleShot(5000, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    return cpuSeconds() - before;
}

} // namespace

int main(int argc, char **argv)
{
    bench::oneCore();
    QCoreApplication app(argc, argv);
    // Judged on the receiving thread's CPU per byte, the cost of the receive path itself.
    // Best of a few, the two kinds interleaved.
    bench::Span events{.wall = 1e9, .cpu = 1e9};
    bench::Span plain{.wall = 1e9, .cpu = 1e9};
    for (int i = 0; i < runs; ++i) {
        const bench::Span e = eventSpan();
        const bench::Span p = plainSpan();
        events = { .wall = std::min(events.wall, e.wall), .cpu = std::min(events.cpu, e.cpu) };
        plain = { .wall = std::min(plain.wall, p.wall), .cpu = std::min(plain.cpu, p.cpu) };
    }
    const double idle = idleCpuSeconds();
    const double mb = double(totalBytes) / 1e6;
    const double ratio = plain.cpu / events.cpu;
    const bool met = ratio >= 0.80 && idle / 5.0 * 100 < 1.0;
    std::printf("tcp 100 MB in 1000-byte reads: receiving CPU events %.0f MB/s, plain recv %.0f MB/s, ratio %.2f "
                "(goal >= 0.80; wall %.0f and %.0f MB/s); "
                "10 idle connections for 5 s: %.1f ms CPU = %.3f %% of one core (goal < 1 %%) %s\n",
                mb / events.cpu, mb / plain.cpu, ratio, mb / events.wall, mb / plain.wall, idle * 1000,
                idle / 5.0 * 100, met ? "met" : "MISSED");
    return met ? 0 : 1;
}
