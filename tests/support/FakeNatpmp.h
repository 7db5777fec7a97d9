#pragma once

// A NAT-PMP router of the test's own, answering from a thread in a network namespace: one it
// makes and links to the caller's (start), or one `ip netns` made (serveIn). It gives
// 11.0.113.1 as the external address and grants what is asked; it drops every request while
// `silent`, and answers mappings of `refusedPort` "not authorised".

#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace bramblet::test {

class FakeNatpmp {
public:
    std::atomic<bool> silent{false};
    std::atomic<int> refusedPort{0};
    std::atomic<int> removals{0}; // requests with lifetime 0
    std::atomic<int> removalsSinceGrant{0};
    std::atomic<bool> answerRemovals{true}; // false: they take effect, but no answer comes

    ~FakeNatpmp()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

    // Makes the router's namespace with the router at 10.77.0.1, linked to the caller's
    // (10.77.0.2), the default route leading there.
    bool start()
    {
        run(QString(), QStringLiteral("10.77.0.1"), QStringLiteral("ip addr add 10.77.0.1/24 dev pm1 && ip link set pm1 up"));
        const QByteArray link = QStringLiteral("ip link set lo up && ip link add pm0 type veth peer name pm1 netns %1 && "
                                               "ip addr add 10.77.0.2/24 dev pm0 && ip link set pm0 up && "
                                               "ip route add default via 10.77.0.1")
                                    .arg(tid_.load())
                                    .toUtf8();
        state_ = state_ == 1 && std::system(link.constData()) == 0 ? 2 : -1;
        return served();
    }

    // Serves at `address` in the namespace bound at `netnsPath` (/run/netns/NAME).
    bool serveIn(const QString &netnsPath, const QString &address)
    {
        run(netnsPath, address, {});
        state_ = state_ == 1 ? 2 : -1;
        return served();
    }

private:
    void run(const QString &netnsPath, const QString &address, const QString &setUp)
    {
        thread_ = std::thread([this, path = netnsPath.toLocal8Bit(), address = address.toLatin1(), setUp = setUp.toUtf8()] {
            const int ns = path.isEmpty() ? -1 : ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            const bool moved = path.isEmpty() ? ::unshare(CLONE_NEWNET) == 0 : ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0;
            if (ns >= 0)
                ::close(ns);
            const int s = moved ? ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
            tid_ = ::syscall(SYS_gettid);
            state_ = s < 0 ? -1 : 1;
            for (int i = 0; i < 500 && state_ == 1; ++i) // the caller links the namespace meanwhile
                ::usleep(10000);
            sockaddr_in at{AF_INET, htons(5351), {::inet_addr(address.constData())}, {}};
            const bool up = state_ == 2 && (setUp.isEmpty() || std::system(setUp.constData()) == 0) &&
                            ::bind(s, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
            state_ = up ? 3 : -1;
            for (int rounds = 0; up && rounds < 6000 && !stop_; ++rounds) // at most ten minutes
                answerOne(s);
            if (s >= 0)
                ::close(s);
        });
        for (int i = 0; i < 500 && state_ == 0; ++i)
            ::usleep(10000);
    }

    bool served()
    {
        for (int i = 0; i < 500 && state_ == 2; ++i)
            ::usleep(10000);
        return state_ == 3;
    }

    void answerOne(int s)
    {
        pollfd fd{s, POLLIN, 0};
        unsigned char in[16] = {}, out[16] = {0, 0, 0, 0, 0, 0, 0, 1, 11, 0, 113, 1}; // the external address
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::poll(&fd, 1, 100) > 0 ? ::recvfrom(s, in, sizeof in, 0, reinterpret_cast<sockaddr *>(&from), &length) : -1;
        if (n < 2 || (in[1] != 0 && n < 12) || silent)
            return;
        out[1] = static_cast<unsigned char>(128 + in[1]);
        if (in[1] != 0)
            std::memcpy(out + 8, in + 4, 8); // the ports and lifetime asked for, granted
        if (in[1] != 0 && in[4] * 256 + in[5] == refusedPort)
            out[3] = 2; // not authorised
        const bool removal = in[1] != 0 && !in[8] && !in[9] && !in[10] && !in[11];
        removals += removal;
        removalsSinceGrant = removal ? removalsSinceGrant + 1 : in[1] != 0 ? 0 : removalsSinceGrant.load();
        if (removal && !answerRemovals)
            return;
        ::sendto(s, out, in[1] == 0 ? 12 : 16, 0, reinterpret_cast<sockaddr *>(&from), length);
    }

    std::atomic<bool> stop_{false};
    std::atomic<long> tid_{0};
    std::atomic<int> state_{0}; // 1: namespace entered, 2: the caller linked it, 3: serving, -1: failed
    std::thread thread_;
};

} // namespace bramblet::test
