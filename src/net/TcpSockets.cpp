#include "net/TcpSockets.h"

#include "core/guard.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <exception>

namespace bramblet {

namespace {

// Pause of the accept notifications after an accept failed for lack of resources: the
// pending connection stays queued and would otherwise wake the loop without end.
constexpr int acceptPauseMs = 100;
constexpr int noAddressCode = 1110;

TSockAddrIn idleEndpoint()
{
    TSockAddrIn a;
    a.sin_family = AF_INET;
    return a;
}

TSockAddrIn fromSockaddr(const sockaddr_in &s)
{
    TSockAddrIn a;
    a.sin_family = s.sin_family;
    a.sin_port = s.sin_port;
    a.sin_addr = s.sin_addr.s_addr;
    return a;
}

int queryWaiting(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : -1;
}

bool wouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK; }

int pendingError(int fd)
{
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        return errno;
    return error;
}

int newTcpHandle() { return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

bool sameIgnoringCase(const std::string &a, const std::string &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// Handlers are copied before the call so that one may reassign itself while it runs.
void call(const TSocketNotifyEvent &event, QObject *sender, TCustomWinSocket *socket)
{
    if (!event)
        return;
    TSocketNotifyEvent handler = event;
    handler(sender, socket);
}

void callError(const TSocketErrorEvent &event, QObject *sender, TCustomWinSocket *socket, TErrorEvent kind,
               int &code)
{
    if (!event)
        return;
    TSocketErrorEvent handler = event;
    handler(sender, socket, kind, code);
}

[[noreturn]] void cannotChange() { throw ESocketError("Can't change value while socket is active", 0); }

} // namespace

// ---- TCustomWinSocket -------------------------------------------------------------------

void SocketDeleter::operator()(TCustomWinSocket *socket) const
{
    if (socket)
        socket->destroySoon();
}

TCustomWinSocket::Busy::~Busy()
{
    TCustomWinSocket *s = socket_;
    if (--s->busy_ > 0)
        return;
    if (s->doomed_)
        delete s;
    else
        s->becameIdle();
}

TCustomWinSocket::TCustomWinSocket()
    : endpoint_(idleEndpoint()), readNotifier_(new QSocketNotifier(QSocketNotifier::Read, this)),
      writeNotifier_(new QSocketNotifier(QSocketNotifier::Write, this))
{
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { onNotifier(Notify::Read); });
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { onNotifier(Notify::Write); });
}

TCustomWinSocket::~TCustomWinSocket() { dropHandle(); }

void TCustomWinSocket::destroySoon()
{
    disarmAll();
    if (busy_ > 0) {
        doomed_ = true; // the last call of this object on the stack deletes it
        return;
    }
    delete this;
}

std::uint32_t TCustomWinSocket::OsHandle() const
{
    return fd_ < 0 ? invalidSocketHandle : static_cast<std::uint32_t>(fd_);
}

void TCustomWinSocket::attach(int fd, bool connected, const TSockAddrIn &endpoint)
{
    fd_ = fd;
    connected_ = connected;
    endpoint_ = endpoint;
    pacer_.reset();
    writeArmed_ = false;
    readNotifier_->setSocket(fd);
    readNotifierOn_ = false; // setSocket leaves the notifier disabled
    writeNotifier_->setSocket(fd);
}

void TCustomWinSocket::updateReadNotifier()
{
    // Asked after every receive and every round of a read event, where it rarely changes:
    // the notifier is told only of a change, which spares Qt's bindable-property bookkeeping
    // on the hot path.
    const bool on = fd_ >= 0 && pacer_.notifierOn();
    if (on == readNotifierOn_)
        return;
    readNotifierOn_ = on;
    readNotifier_->setEnabled(on);
}

void TCustomWinSocket::armRead(bool on)
{
    if (pacer_.arm(on))
        parkTimer_->stop();
    updateReadNotifier();
}

void TCustomWinSocket::armWrite(bool on)
{
    writeArmed_ = on;
    writeNotifier_->setEnabled(fd_ >= 0 && on);
}

void TCustomWinSocket::disarmAll()
{
    armRead(false);
    armWrite(false);
}

void TCustomWinSocket::dropHandle() noexcept
{
    if (fd_ < 0)
        return;
    disarmAll();
    ::close(fd_);
    fd_ = -1;
    connected_ = false;
    endpoint_ = idleEndpoint();
}

void TCustomWinSocket::closeHandle(int fd)
{
    Busy busy(this);
    if (fd < 0 || fd != fd_ || closing_)
        return;
    closing_ = true;
    struct Reset {
        bool &flag;
        ~Reset() { flag = false; }
    } reset{closing_};

    // Reads off first: a socket the peer has closed stays readable for good, and a disconnect
    // handler that runs a nested loop would otherwise spin on it until it returns.
    disarmAll();
    std::exception_ptr failure;
    try {
        disconnecting(); // the handle is still open for the disconnect event
    } catch (...) {
        failure = std::current_exception();
    }
    if (fd_ == fd) { // a handler may have replaced it by a new attempt already
        disarmAll();
        const int error = ::close(fd) == 0 ? 0 : errno;
        fd_ = -1;
        connected_ = false;
        endpoint_ = idleEndpoint();
        if (!failure && error != 0 && error != EINTR)
            throw ESocketError(windowsSocketErrorText(error, "closesocket"), error);
    }
    if (failure)
        std::rethrow_exception(failure);
}

void TCustomWinSocket::notificationError(TErrorEvent kind, int code)
{
    fireError(kind, code);
    if (code != 0)
        throw ESocketError(asyncSocketErrorText(code), code);
}

void TCustomWinSocket::failedCall(TErrorEvent kind, int error, const char *api)
{
    const int fd = fd_;
    int code = error;
    try {
        fireError(kind, code);
    } catch (...) {
        closeHandle(fd);
        throw;
    }
    closeHandle(fd);
    if (code != 0)
        throw ESocketError(windowsSocketErrorText(code, api), code);
}

void TCustomWinSocket::onNotifier(Notify what)
{
    Busy busy(this);
    if (what == Notify::Read && pacer_.held()) {
        // A nested event loop inside this connection's read handler.
        pacer_.notifiedWhileHeld();
        updateReadNotifier();
        return;
    }
    guarded([&] {
        if (fd_ < 0)
            return;
        if (what == Notify::Read && pacer_.armed() && !pacer_.parked())
            readNotified();
        else if (what == Notify::Write && writeArmed_)
            writeNotified();
    });
}

void TCustomWinSocket::readNotified()
{
    if (connected_)
        readConnection(fd_);
}

void TCustomWinSocket::writeNotified()
{
    armWrite(false); // reported once; SendBytes re-arms it after a send that would block
    fireNotify(Notify::Write);
}

void TCustomWinSocket::readConnection(int fd)
{
    int waiting = queryWaiting(fd);
    if (waiting == 0) {
        char probe;
        const ssize_t r = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (r == 0) { // orderly close by the peer
            closeHandle(fd);
            return;
        }
        if (r < 0) {
            const int error = errno;
            if (wouldBlock(error) || error == EINTR)
                return;
            // A close that carries an error (reset, abort): the error event only; the
            // connection stays as it is but reports nothing more.
            disarmAll();
            notificationError(eeDisconnect, error);
            return;
        }
        waiting = 1; // data arrived between the two calls
    }
    if (waiting < 0)
        waiting = 0;

    struct EventEnd {
        ReadPacer &pacer;
        ~EventEnd() { pacer.eventEnds(); }
    } eventEnd{pacer_};

    for (int round = 1;; ++round) {
        pacer_.roundStarts(waiting);
        std::exception_ptr failure;
        try {
            fireNotify(Notify::Read);
        } catch (...) {
            failure = std::current_exception();
        }
        pacer_.handlerReturned();
        if (doomed_ || fd_ != fd || !pacer_.armed() || !connected_) {
            updateReadNotifier();
            if (failure)
                std::rethrow_exception(failure);
            return;
        }
        if (pacer_.consumed() == 0) {
            const int after = queryWaiting(fd);
            if (ReadPacer::parksAfterNothingTaken(waiting, after))
                park(after);
            else
                updateReadNotifier();
            if (failure)
                std::rethrow_exception(failure);
            return;
        }
        updateReadNotifier();
        if (failure)
            std::rethrow_exception(failure);
        if (round >= ReadPacer::maxRounds || pacer_.parked())
            return;
        waiting = pacer_.waitingHint();
        if (waiting == 0) {
            waiting = queryWaiting(fd);
            if (waiting <= 0)
                return; // the notifier reports new data or the peer's close
        }
    }
}

void TCustomWinSocket::park(int waiting)
{
    if (!parkTimer_) {
        parkTimer_ = new QTimer(this);
        parkTimer_->setInterval(ReadPacer::parkIntervalMs);
        connect(parkTimer_, &QTimer::timeout, this, [this] { parkTick(); });
    }
    pacer_.park(waiting);
    updateReadNotifier();
    parkTimer_->start();
}

void TCustomWinSocket::unpark()
{
    if (!pacer_.unpark())
        return;
    parkTimer_->stop();
    updateReadNotifier();
}

void TCustomWinSocket::parkTick()
{
    Busy busy(this);
    guarded([&] {
        const int fd = fd_;
        if (!pacer_.parked() || fd < 0) {
            if (parkTimer_)
                parkTimer_->stop();
            return;
        }
        if (queryWaiting(fd) > pacer_.parkedWaiting()) {
            unpark();
            return;
        }
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) <= 0)
            return;
        if (p.revents & POLLERR) {
            const int error = pendingError(fd);
            disarmAll();
            notificationError(eeDisconnect, error != 0 ? error : ECONNRESET);
        } else if (p.revents & (POLLRDHUP | POLLHUP)) {
            // The peer has gone; what the handler left unread goes with the connection.
            closeHandle(fd);
        }
    });
}

int TCustomWinSocket::ReceiveBytes(void *buffer, int count)
{
    Busy busy(this);
    if (!connected_ || fd_ < 0)
        return 0;
    const int fd = fd_;
    if (pacer_.receiving())
        parkTimer_->stop();
    updateReadNotifier();
    if (count < 0 || buffer == nullptr)
        count = 0;
    if (!pacer_.hintCovers(count)) {
        const int waiting = queryWaiting(fd);
        if (waiting >= 0) {
            pacer_.waitingIs(waiting);
            count = std::min(count, waiting);
        }
    }
    if (count == 0)
        return 0;
    ssize_t n;
    do {
        n = ::recv(fd, buffer, static_cast<std::size_t>(count), 0);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        pacer_.took(static_cast<int>(n));
        return static_cast<int>(n);
    }
    const int error = errno;
    if (wouldBlock(error))
        return -1;
    failedCall(eeReceive, error, "recv");
    return -1;
}

int TCustomWinSocket::SendBytes(const void *buffer, int count)
{
    Busy busy(this);
    if (!connected_ || fd_ < 0 || count <= 0 || buffer == nullptr)
        return 0;
    ssize_t n;
    do {
        n = ::send(fd_, buffer, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n >= 0)
        return static_cast<int>(n);
    const int error = errno;
    if (wouldBlock(error)) {
        armWrite(true);
        return -1;
    }
    failedCall(eeSend, error, "send");
    return -1;
}

TSockAddrIn TCustomWinSocket::RemoteEndpoint()
{
    Busy busy(this);
    TSockAddrIn none{};
    if (!connected_ || fd_ < 0)
        return none;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(fd_, reinterpret_cast<sockaddr *>(&peer), &len) != 0 || peer.sin_family != AF_INET)
        return none;
    return fromSockaddr(peer);
}

void TCustomWinSocket::CloseConnection()
{
    Busy busy(this);
    closeHandle(fd_);
}

// ---- TClientWinSocket -------------------------------------------------------------------

void TClientWinSocket::writeNotified()
{
    if (Connected()) {
        TCustomWinSocket::writeNotified();
        return;
    }
    // The connect notification of the current attempt.
    const int fd = handle();
    const int error = pendingError(fd);
    if (error == 0) {
        setConnected(true);
        armRead(true); // the write notifier stays armed: the first write event follows
        if (component_) {
            component_->active_ = true;
            call(component_->OnConnect, component_, this);
        }
        return;
    }
    disarmAll();
    int code = error;
    try {
        fireError(eeConnect, code);
    } catch (...) {
        if (handle() == fd)
            dropHandle();
        throw;
    }
    if (handle() == fd)
        dropHandle(); // a failed attempt holds nothing worth keeping
    if (code != 0)
        throw ESocketError(asyncSocketErrorText(code), code);
}

void TClientWinSocket::fireNotify(Notify what)
{
    if (!component_)
        return;
    call(what == Notify::Read ? component_->OnRead : component_->OnWrite, component_, this);
}

void TClientWinSocket::fireError(TErrorEvent kind, int &code)
{
    if (component_)
        callError(component_->OnError, component_, this, kind, code);
}

void TClientWinSocket::disconnecting()
{
    if (!component_)
        return;
    component_->active_ = false;
    call(component_->OnDisconnect, component_, this);
}

// ---- TClientSocket ----------------------------------------------------------------------

TClientSocket::TClientSocket(QObject *parent) : QObject(parent), socket_(new TClientWinSocket(this)) {}

TClientSocket::~TClientSocket()
{
    socket_->component_ = nullptr;
    socket_->dropHandle();
}

void TClientSocket::SetActive(bool value)
{
    TClientWinSocket *s = socket_.get();
    if (!value) {
        if (s->Connected())
            s->closeHandle(s->handle());
        else
            s->dropHandle(); // abandon an attempt in progress: nothing more is reported for it
        active_ = false;
        return;
    }
    if (active_)
        return;

    const int fd = newTcpHandle();
    if (fd < 0)
        throw ESocketError("Can't create new socket", errno);
    s->dropHandle(); // an earlier attempt no longer counts
    s->attach(fd, false, idleEndpoint());

    call(OnLookup, this, s);
    if (s->handle() != fd)
        return;
    if (address_.empty()) {
        int code = noAddressCode;
        s->fireError(eeLookup, code);
        s->closeHandle(fd);
        if (code != 0)
            throw ESocketError("No address specified", code);
        return;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port_);
    peer.sin_addr.s_addr = ::inet_addr(address_.c_str());
    s->setEndpoint(fromSockaddr(peer));

    try {
        call(OnConnecting, this, s);
    } catch (...) {
        // No connect was started: the fresh handle must not linger and report itself
        // writable, which would read as a connection made.
        if (s->handle() == fd)
            s->dropHandle();
        throw;
    }
    if (s->handle() != fd)
        return;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0 && errno != EINPROGRESS &&
        errno != EINTR) {
        const int error = errno;
        s->closeHandle(fd);
        throw ESocketError(windowsSocketErrorText(error, "connect"), error);
    }
    s->armWrite(true); // the connect notification, only once the connect has started
}

void TClientSocket::checkInactive() const
{
    if (active_)
        cannotChange();
}

void TClientSocket::SetAddress(const std::string &value)
{
    if (sameIgnoringCase(value, address_))
        return;
    checkInactive();
    address_ = value;
}

void TClientSocket::SetPort(std::uint16_t value)
{
    if (value == port_)
        return;
    checkInactive();
    port_ = value;
}

void TClientSocket::SetClientType(TClientType value)
{
    if (value != ClientType() && socket_->Connected())
        cannotChange();
}

// ---- TServerClientWinSocket ---------------------------------------------------------------

TServerClientWinSocket::TServerClientWinSocket(TServerWinSocket *owner, int fd, const TSockAddrIn &peer,
                                               std::uint64_t serial)
    : owner_(owner), serial_(serial)
{
    attach(fd, true, peer);
}

void TServerClientWinSocket::fireNotify(Notify what)
{
    if (!owner_ || !owner_->component_)
        return;
    TServerSocket *server = owner_->component_;
    call(what == Notify::Read ? server->OnClientRead : server->OnClientWrite, owner_, this);
}

void TServerClientWinSocket::fireError(TErrorEvent kind, int &code)
{
    if (owner_ && owner_->component_)
        callError(owner_->component_->OnClientError, owner_, this, kind, code);
}

void TServerClientWinSocket::disconnecting()
{
    if (!owner_)
        return;
    // The release runs from the event loop, after this event, so the order is the same.
    owner_->requestRelease(this);
    if (owner_->component_)
        call(owner_->component_->OnClientDisconnect, owner_, this);
}

void TServerClientWinSocket::becameIdle()
{
    if (releaseWhenIdle_) {
        releaseWhenIdle_ = false;
        if (owner_)
            owner_->requestRelease(this);
    }
}

// ---- TServerWinSocket -----------------------------------------------------------------------

TServerWinSocket::~TServerWinSocket()
{
    for (auto it = clients_.rbegin(); it != clients_.rend(); ++it) {
        (*it)->owner_ = nullptr;
        SocketDeleter{}(*it);
    }
}

std::vector<TServerClientWinSocket *> TServerWinSocket::ClientConnections() const
{
    std::lock_guard lock(listLock_);
    return clients_;
}

int TServerWinSocket::ActiveConnections() const
{
    std::lock_guard lock(listLock_);
    return static_cast<int>(clients_.size());
}

void TServerWinSocket::listen(std::uint16_t port)
{
    if (listening_)
        return;
    const int fd = newTcpHandle();
    if (fd < 0)
        throw ESocketError("Can't create new socket", errno);
    // Connections of an earlier run left in TIME_WAIT must not keep the port from a new
    // listen; a port another socket listens on still fails.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        throw ESocketError(windowsSocketErrorText(error, "bind"), error);
    }
    attach(fd, false, fromSockaddr(local));
    armRead(true); // accept notifications
    listening_ = true;
    if (component_) {
        try {
            call(component_->OnListen, component_, this);
        } catch (...) {
            stopListening();
            throw;
        }
    }
    if (handle() != fd)
        return;
    if (::listen(fd, 5) != 0) {
        const int error = errno;
        listening_ = false;
        dropHandle();
        throw ESocketError(windowsSocketErrorText(error, "listen"), error);
    }
    setConnected(true);
}

void TServerWinSocket::stopListening()
{
    ++generation_; // drops the releases still queued
    if (acceptPause_)
        acceptPause_->stop();
    while (true) {
        TServerClientWinSocket *client;
        {
            std::lock_guard lock(listLock_);
            if (clients_.empty())
                break;
            client = clients_.back(); // the most recently accepted first
            clients_.pop_back();
        }
        destroyClient(client);
    }
    listening_ = false;
    closeHandle(handle());
}

void TServerWinSocket::destroyClient(TServerClientWinSocket *client)
{
    client->owner_ = nullptr; // cut off from its events first: no disconnect event
    client->dropHandle();
    SocketDeleter{}(client);
}

void TServerWinSocket::readNotified()
{
    if (listening_)
        accept();
}

void TServerWinSocket::accept()
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    const int fd = ::accept4(handle(), reinterpret_cast<sockaddr *>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (!wouldBlock(error) && error != EINTR && error != ECONNABORTED && error != EPROTO) {
            armRead(false);
            if (!acceptPause_) {
                acceptPause_ = new QTimer(this);
                acceptPause_->setSingleShot(true);
                connect(acceptPause_, &QTimer::timeout, this, [this] {
                    if (listening_)
                        armRead(true);
                });
            }
            acceptPause_->start(acceptPauseMs);
        }
        return;
    }
    auto *client = new TServerClientWinSocket(this, fd, fromSockaddr(peer), ++nextSerial_);
    {
        std::lock_guard lock(listLock_);
        clients_.push_back(client);
    }
    Busy keep(client);
    client->armRead(true);
    client->armWrite(true); // the first write event follows the accept events
    if (!component_)
        return;
    call(component_->OnClientConnect, this, client);
    if (client->doomed() || client->owner_ != this || !component_)
        return;
    call(component_->OnAccept, component_, client);
}

void TServerWinSocket::fireError(TErrorEvent, int &)
{
    // The listening object has no error handler: the error reaches the event loop's box.
}

void TServerWinSocket::requestRelease(TServerClientWinSocket *client)
{
    const std::uint64_t generation = generation_;
    const std::uint64_t serial = client->serial_;
    QMetaObject::invokeMethod(
        this, [this, generation, serial] { guarded([&] { release(generation, serial); }); },
        Qt::QueuedConnection);
}

void TServerWinSocket::release(std::uint64_t generation, std::uint64_t serial)
{
    if (generation != generation_)
        return;
    TServerClientWinSocket *client = nullptr;
    {
        std::lock_guard lock(listLock_);
        auto it = std::find_if(clients_.begin(), clients_.end(),
                               [serial](TServerClientWinSocket *c) { return c->serial_ == serial; });
        if (it == clients_.end())
            return;
        client = *it;
        if (client->busy()) {
            // A handler of it is still running (a nested event loop): after it returns.
            client->releaseWhenIdle_ = true;
            return;
        }
        clients_.erase(it);
    }
    destroyClient(client);
}

// ---- TServerSocket --------------------------------------------------------------------------

TServerSocket::TServerSocket(QObject *parent) : QObject(parent), socket_(new TServerWinSocket(this)) {}

TServerSocket::~TServerSocket()
{
    socket_->component_ = nullptr;
    try {
        socket_->stopListening();
    } catch (...) {
        // a failing close while going away has nobody left to tell
    }
}

bool TServerSocket::Active() const { return socket_->listening_; }

void TServerSocket::SetActive(bool value)
{
    if (value)
        socket_->listen(port_);
    else if (socket_->listening_ || socket_->handle() >= 0)
        socket_->stopListening();
}

void TServerSocket::SetPort(std::uint16_t value)
{
    if (value == port_)
        return;
    if (Active())
        cannotChange();
    port_ = value;
}

void TServerSocket::SetServerType(TServerType value)
{
    if (value != ServerType() && socket_->Connected())
        cannotChange();
}

} // namespace bramblet
