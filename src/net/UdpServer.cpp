#include "net/UdpServer.h"

#include "core/address.h"
#include "net/Address.h"

#include <QMetaObject>
#include <QPointer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace bramblet {

namespace {

constexpr int listenerWaitMs = 1000;
constexpr int maxWatchedHandles = 64;
constexpr int hostNotFound = 11001;
constexpr int messageTooLong = 10040;
constexpr const char *bindFailed = "Could not bind socket. Address and port are already in use.";

std::string rangeText(const char *what, int min, int max)
{
    return std::string(what) + " (" + std::to_string(min) + " - " + std::to_string(max) + ")";
}

const char *errorClass(const std::exception &e)
{
    if (dynamic_cast<const ESocketError *>(&e))
        return "ESocketError";
    if (dynamic_cast<const EUDPError *>(&e))
        return "EUDPError";
    if (dynamic_cast<const CodedError *>(&e))
        return "CodedError";
    if (dynamic_cast<const Error *>(&e))
        return "Error";
    return "std::exception";
}

bool lookupHost(const std::string &name, std::uint32_t &address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *answer = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &answer) != 0 || !answer)
        return false;
    address = reinterpret_cast<const sockaddr_in *>(answer->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(answer);
    return true;
}

int bindTo(int fd, std::uint32_t address, int port)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    local.sin_addr.s_addr = address;
    return ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0 ? 0 : errno;
}

} // namespace

struct TUDPServer::Handover {
    enum Kind { Read, Failure } kind = Read;
    TUDPSocketHandle *binding = nullptr;
    const TBytes *data = nullptr;
    std::string sourceIP;
    int sourcePort = 0;
    std::string message;
    std::string errorClass;
    bool done = false;
};

// What one activation owns: its handles, its thread and the handover queue. Shared by the
// endpoint, the thread and a handover that is running, so a handler that deactivates the
// endpoint keeps its data valid until it returns.
struct TUDPServer::Listener {
    TUDPServer *owner = nullptr;
    bool threaded = false;
    std::size_t bufferSize = 0;
    TBytes buffer;
    std::vector<std::pair<int, TUDPSocketHandle *>> watch;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::thread thread;

    std::mutex lock;
    std::condition_variable changed;
    bool stop = false;
    bool finished = false;
    std::deque<std::shared_ptr<Handover>> queue;

    void closeHandles()
    {
        for (auto &[fd, binding] : watch) {
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
            if (binding->fd_ == fd)
                binding->fd_ = -1;
        }
        watch.clear();
        for (int *fd : {&wakeRead, &wakeWrite}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    bool stopping()
    {
        std::lock_guard guard(lock);
        return stop;
    }
};

// ---- TUDPSocketHandles ----------------------------------------------------------------------

TUDPSocketHandle &TUDPSocketHandles::Add()
{
    items_.push_back(std::make_unique<TUDPSocketHandle>());
    return *items_.back();
}

void TUDPSocketHandles::Clear()
{
    if (owner_->listener_)
        throw EUDPError("Can't change value while socket is active");
    items_.clear();
}

// ---- TUDPServer -------------------------------------------------------------------------------

TUDPServer::TUDPServer(QObject *parent) : QObject(parent) {}

TUDPServer::~TUDPServer()
{
    try {
        deactivate();
    } catch (...) {
        // nothing left to tell
    }
}

bool TUDPServer::Active() const { return sendingBinding_ && sendingBinding_->fd_ >= 0; }

void TUDPServer::SetActive(bool value)
{
    if (value)
        activate();
    else
        deactivate();
}

void TUDPServer::bindOne(TUDPSocketHandle &binding, int fd)
{
    std::uint32_t address = htonl(INADDR_ANY);
    bool addressOk = true;
    if (!binding.IP.empty()) {
        const auto parsed = address::parseDecimalQuad(binding.IP, address::LeadingZeros::Refused);
        addressOk = parsed.has_value();
        address = htonl(parsed.value_or(0));
    }
    const int min = binding.ClientPortMin;
    const int max = binding.ClientPortMax;
    if (binding.Port == 0 && min != 0 && max != 0) {
        if (max < min)
            throw EUDPError(rangeText("Invalid Port Range", min, max));
        bool bound = false;
        for (int port = std::min(max, 65535); addressOk && port >= std::max(min, 1) && !bound; --port)
            bound = bindTo(fd, address, port) == 0;
        if (!bound)
            throw EUDPError(rangeText("Can not bind in port range", min, max));
    } else if (!addressOk || binding.Port < 0 || binding.Port > 65535 || bindTo(fd, address, binding.Port) != 0) {
        throw EUDPError(bindFailed);
    }
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) == 0) {
        binding.IP = dottedQuad(local.sin_addr.s_addr);
        binding.Port = ntohs(local.sin_port);
    }
}

void TUDPServer::activate()
{
    if (listener_)
        return;
    if (Bindings.Count() == 0)
        Bindings.Add().Port = DefaultPort;
    if (Bindings.Count() > maxWatchedHandles)
        throw EUDPError("Set Size Exceeded.");

    auto l = std::make_shared<Listener>();
    l->owner = this;
    l->threaded = ThreadedEvent;
    l->bufferSize = static_cast<std::size_t>(std::max(0, BufferSize));
    try {
        for (int i = 0; i < Bindings.Count(); ++i) {
            TUDPSocketHandle &binding = Bindings[i];
            if (binding.IPVersion != ipV4)
                throw udpSocketError(EAFNOSUPPORT);
            const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                throw udpSocketError(errno);
            if (binding.fd_ >= 0)
                ::close(binding.fd_);
            binding.fd_ = fd;
            l->watch.emplace_back(fd, &binding);
            bindOne(binding, fd);
            const int broadcast = BroadcastEnabled ? 1 : 0;
            ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &broadcast, sizeof broadcast);
        }
        int wake[2];
        if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
            throw udpSocketError(errno);
        l->wakeRead = wake[0];
        l->wakeWrite = wake[1];
        l->buffer.reserve(l->bufferSize);
        l->thread = std::thread(&TUDPServer::listen, l);
    } catch (...) {
        l->closeHandles(); // a failed activation keeps no handle open
        throw;
    }
    listener_ = l;
    sendingBinding_ = &Bindings[0];
}

void TUDPServer::deactivate()
{
    std::shared_ptr<Listener> l = listener_;
    if (!l) {
        sendingBinding_ = nullptr;
        return;
    }
    if (l->thread.get_id() == std::this_thread::get_id())
        throw Error("The UDP listener cannot be stopped from its own thread");
    {
        std::lock_guard guard(l->lock);
        l->stop = true;
    }
    l->changed.notify_all();
    const char wake = 1;
    if (l->wakeWrite >= 0) {
        [[maybe_unused]] const auto written = ::write(l->wakeWrite, &wake, 1);
    }

    // The thread may be waiting for a handover: keep running them until it has ended.
    while (true) {
        drain(l);
        std::unique_lock guard(l->lock);
        if (l->finished && l->queue.empty())
            break;
        l->changed.wait(guard, [&] { return l->finished || !l->queue.empty(); });
    }
    if (l->thread.joinable())
        l->thread.join();
    l->closeHandles();
    if (listener_ == l) {
        listener_.reset();
        sendingBinding_ = nullptr;
    }
}

void TUDPServer::drain(const std::shared_ptr<Listener> &l)
{
    while (true) {
        std::shared_ptr<Handover> handover;
        {
            std::lock_guard guard(l->lock);
            if (l->queue.empty())
                return;
            handover = l->queue.front();
            l->queue.pop_front();
        }
        runHandover(*handover);
        {
            std::lock_guard guard(l->lock);
            handover->done = true;
        }
        l->changed.notify_all();
    }
}

void TUDPServer::runHandover(Handover &h)
{
    QPointer<TUDPServer> alive(this);
    std::string message = h.message;
    std::string kind = h.errorClass;
    if (h.kind == Handover::Read) {
        h.binding->SourceIP = h.sourceIP;
        h.binding->SourcePort = h.sourcePort;
        sendingBinding_ = h.binding;
        try {
            if (OnUDPRead) {
                TUDPReadEvent handler = OnUDPRead;
                handler(this, *h.data, h.binding);
            }
            return;
        } catch (const std::exception &e) {
            message = e.what();
            kind = errorClass(e);
        } catch (...) {
            message = "Unknown error";
            kind = "unknown";
        }
        if (!alive)
            return;
    }
    sendingBinding_ = h.binding;
    try {
        if (OnUDPException) {
            TUDPExceptionEvent handler = OnUDPException;
            handler(this, h.binding, message, kind);
        }
    } catch (...) {
        // errors of the listener's events are never shown
    }
}

void TUDPServer::listen(std::shared_ptr<Listener> l)
{
    std::vector<pollfd> fds;
    fds.push_back({l->wakeRead, POLLIN, 0});
    for (const auto &watched : l->watch)
        fds.push_back({watched.first, POLLIN, 0});

    auto hand = [&](Handover h) {
        if (l->threaded) {
            l->owner->runHandover(h);
            return;
        }
        auto pending = std::make_shared<Handover>(std::move(h));
        {
            std::lock_guard guard(l->lock);
            l->queue.push_back(pending);
        }
        l->changed.notify_all();
        std::weak_ptr<Listener> weak = l;
        TUDPServer *owner = l->owner;
        QMetaObject::invokeMethod(
            owner,
            [owner, weak] {
                if (auto listener = weak.lock())
                    owner->drain(listener);
            },
            Qt::QueuedConnection);
        // Wait until the main thread has run it; a stop request ends the wait, the
        // deactivating thread runs what is still queued.
        std::unique_lock guard(l->lock);
        l->changed.wait(guard, [&] { return pending->done || l->stop; });
    };
    auto failure = [&](TUDPSocketHandle *binding, std::string message, const char *kind) {
        Handover h;
        h.kind = Handover::Failure;
        h.binding = binding;
        h.message = std::move(message);
        h.errorClass = kind;
        hand(std::move(h));
    };

    while (!l->stopping()) {
        for (auto &p : fds)
            p.revents = 0;
        const int ready = ::poll(fds.data(), fds.size(), listenerWaitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break; // the wait itself failed: the handles are gone
        }
        if (ready == 0)
            continue;
        if (fds[0].revents) {
            char sink[16];
            while (::read(l->wakeRead, sink, sizeof sink) > 0) {
            }
        }
        bool gone = false;
        for (std::size_t i = 1; i < fds.size() && !gone; ++i) {
            if (fds[i].revents & POLLNVAL) {
                gone = true;
                break;
            }
            if (!(fds[i].revents & (POLLIN | POLLERR)))
                continue;
            if (l->stopping())
                break;
            TUDPSocketHandle *binding = l->watch[i - 1].second;
            l->buffer.resize(l->bufferSize);
            sockaddr_in from{};
            iovec part{l->buffer.data(), l->buffer.size()};
            msghdr header{};
            header.msg_name = &from;
            header.msg_namelen = sizeof from;
            header.msg_iov = &part;
            header.msg_iovlen = 1;
            const ssize_t n = ::recvmsg(fds[i].fd, &header, MSG_DONTWAIT);
            if (n < 0) {
                const int error = errno;
                if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)
                    continue;
                failure(binding, udpSocketError(error).what(), "ESocketError");
                continue;
            }
            if (header.msg_flags & MSG_TRUNC) { // longer than the buffer: lost
                failure(binding, udpSocketErrorText(messageTooLong), "ESocketError");
                continue;
            }
            l->buffer.resize(static_cast<std::size_t>(n));
            Handover h;
            h.binding = binding;
            h.data = &l->buffer;
            h.sourceIP = dottedQuad(from.sin_addr.s_addr);
            h.sourcePort = ntohs(from.sin_port);
            hand(std::move(h));
        }
        if (gone)
            break;
    }
    {
        std::lock_guard guard(l->lock);
        l->finished = true;
    }
    l->changed.notify_all();
}

std::uint32_t TUDPServer::hostAddress(const std::string &host) const
{
    if (auto literal = literalDatagramHost(host))
        return htonl(*address::parseDecimalQuad(*literal, address::LeadingZeros::Decimal));
    std::uint32_t address = 0;
    const bool found = HostResolver ? HostResolver(host, address) : lookupHost(host, address);
    if (!found)
        throw ESocketError(udpSocketErrorText(hostNotFound), hostNotFound);
    return address;
}

void TUDPServer::SendDatagram(const std::string &host, int port, const TBytes &data)
{
    SendDatagram(host, port, data.data(), data.size());
}

void TUDPServer::SendDatagram(const std::string &host, int port, const void *data, std::size_t size)
{
    const std::uint32_t address = hostAddress(host);
    if (!listener_)
        activate();
    TUDPSocketHandle *binding = sendingBinding_;
    if (!binding || binding->fd_ < 0)
        throw udpSocketError(ENOTSOCK);
    if (port < 0 || port > 65535)
        throw udpSocketError(EINVAL);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = address;
    ssize_t sent;
    do {
        sent = ::sendto(binding->fd_, data, size, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        if (errno == EMSGSIZE)
            throw EUDPError("Package Size Too Big.");
        throw udpSocketError(errno);
    }
    if (static_cast<std::size_t>(sent) < size)
        throw EUDPError("Not all bytes sent.");
}

} // namespace bramblet
