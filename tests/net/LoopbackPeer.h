#pragma once

// Plain blocking sockets on 127.0.0.1 that play the other side of a connection, and small
// probes of the process (open descriptors, notifier activations).

#include <QDir>
#include <QList>
#include <QObject>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace bramblet::test {

// One plain descriptor, closed with the object.
class PlainSocket {
public:
    explicit PlainSocket(int fd = -1) : fd_(fd) {}
    PlainSocket(PlainSocket &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    PlainSocket &operator=(PlainSocket &&o) noexcept
    {
        std::swap(fd_, o.fd_);
        return *this;
    }
    ~PlainSocket() { close(); }
    int fd() const { return fd_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Closing with an abortive reset instead of an orderly close.
    void reset()
    {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close();
    }
    bool send(const std::string &bytes) const
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Waits up to ms for something to read; -2 on time-out, else what recv returned.
    ssize_t receive(char *buffer, std::size_t size, int ms = 5000) const
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return -2;
        return ::recv(fd_, buffer, size, MSG_DONTWAIT);
    }
    std::uint16_t localPort() const
    {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        return ntohs(a.sin_port);
    }

private:
    int fd_;
};

inline sockaddr_in loopback(std::uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

inline PlainSocket plainConnect(std::uint16_t port)
{
    PlainSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = loopback(port);
    if (::connect(s.fd(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        s.close();
    return s;
}

// A listening socket on 127.0.0.1 with a port the system chose (or the one given).
inline PlainSocket plainListen(std::uint16_t port = 0, int type = SOCK_STREAM)
{
    PlainSocket s(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    const sockaddr_in a = loopback(port);
    if (::bind(s.fd(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(s.fd(), 8) != 0))
        s.close();
    return s;
}

inline PlainSocket plainAccept(const PlainSocket &listener, int ms = 5000)
{
    pollfd p{listener.fd(), POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return PlainSocket();
    return PlainSocket(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

// A port nothing listens on right now.
inline std::uint16_t unusedPort(int type = SOCK_STREAM)
{
    PlainSocket s = plainListen(0, type);
    return s.localPort();
}

inline int openDescriptors() { return static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size()); }

// Runs the event loop for ms and returns how often the socket notifiers under the given
// objects fired meanwhile.
inline int notifierActivations(const QList<QObject *> &owners, int ms)
{
    int count = 0;
    QList<QMetaObject::Connection> connections;
    for (QObject *owner : owners)
        for (QSocketNotifier *n : owner->findChildren<QSocketNotifier *>())
            connections << QObject::connect(n, &QSocketNotifier::activated, n, [&count] { ++count; });
    QTimer window;
    window.setSingleShot(true);
    QSignalSpy over(&window, &QTimer::timeout);
    window.start(ms);
    over.wait(ms + 5000);
    for (const auto &c : connections)
        QObject::disconnect(c);
    return count;
}

// Lets the event loop run for ms (a window in which something must not happen).
inline void runLoopFor(int ms) { notifierActivations({}, ms); }

} // namespace bramblet::test
