#pragma once

// Event-driven TCP sockets on the main thread's event loop.
//
// Usage, client:
//     TClientSocket client;
//     client.SetPort(9001);
//     client.OnConnect = [](QObject *, TCustomWinSocket *s) { s->SendBytes(hello, 8); };
//     client.OnRead = [](QObject *, TCustomWinSocket *s) { char b[36]; int n = s->ReceiveBytes(b, 36); ... };
//     client.OnError = [](QObject *, TCustomWinSocket *, TErrorEvent &, int &code) { code = 0; };
//     client.SetAddress("10.0.0.2");
//     client.SetActive(true);           // returns at once; OnConnect or OnError follow
// Usage, server:
//     TServerSocket server;
//     server.SetPort(11881);
//     server.OnClientRead = [](QObject *, TCustomWinSocket *s) {
//         char b[1001]; int n = s->ReceiveBytes(b, 1000);
//         MessageE(s->OsHandle(), b, len, &s->UserWord); };
//     server.SetActive(true);           // throws ESocketError "... on API 'bind'" when the port is taken
//
// Rules the owner can rely on:
// - Every call and every event is on the main thread, so a connection holds no lock: a
//   receive costs little more than its system call. Every event runs from the event loop
//   (nested loops included). An error that leaves a handler is reported through
//   bramblet::guarded and the loop goes on; errors raised while the owner writes Active or a
//   property reach the writer.
// - A read event fires when data arrives and again after each receive while data remains;
//   a handler that receives nothing gets no further read event until more data arrives.
// - A write event fires once when the connection becomes writable and again only after a
//   SendBytes that returned -1 (would block).
// - OsHandle() is valid inside every event of a connection, its disconnect event included.
// - Connection objects live on the heap and never move: &UserWord is stable for their life.
// - The error events get the kind and an in-out code; setting the code to 0 marks the error
//   handled. Otherwise ESocketError "Asynchronous socket error %d" (or the failed call's
//   "Windows socket error: %s (%d), on API '%s'") is raised.
// - An accepted connection that closed is released (destroyed, removed from
//   ClientConnections) from the event loop after its handlers have returned; deactivating the
//   server destroys the open ones, newest first, without disconnect events.

#include "net/Address.h"
#include "net/ReadPacer.h"
#include "net/SocketError.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace bramblet {

// The handle value that means "no handle".
inline constexpr std::uint32_t invalidSocketHandle = 0xFFFFFFFFu;

enum TErrorEvent { eeGeneral = 0, eeSend = 1, eeReceive = 2, eeConnect = 3, eeDisconnect = 4, eeAccept = 5, eeLookup = 6 };
enum TClientType { ctNonBlocking };
enum TServerType { stNonBlocking };

class TCustomWinSocket;
class TClientWinSocket;
class TServerClientWinSocket;
class TServerWinSocket;
class TClientSocket;
class TServerSocket;

using TSocketNotifyEvent = std::function<void(QObject *Sender, TCustomWinSocket *Socket)>;
using TSocketErrorEvent =
    std::function<void(QObject *Sender, TCustomWinSocket *Socket, TErrorEvent &ErrorEvent, int &ErrorCode)>;

// Destroys a connection object once no call of its own is on the stack any more.
struct SocketDeleter {
    void operator()(TCustomWinSocket *socket) const;
};

// The connection object: the Socket of every event.
class TCustomWinSocket : public QObject {
    Q_OBJECT
public:
    TCustomWinSocket(const TCustomWinSocket &) = delete;
    TCustomWinSocket &operator=(const TCustomWinSocket &) = delete;

    // The platform handle; invalidSocketHandle when there is none.
    std::uint32_t OsHandle() const;
    bool Connected() const { return connected_; }
    // The address used for connect or bind; family IPv4, any, port 0 when idle.
    TSockAddrIn Endpoint() const { return endpoint_; }

    // One non-blocking send: the count the platform took (maybe less than count), 0 when not
    // connected, -1 when it would block (a write event follows when it can take data again).
    int SendBytes(const void *buffer, int count);
    // One non-blocking receive of at most count bytes and no more than are waiting: the count
    // received, 0 when nothing waits or the peer closed, -1 when it would block.
    int ReceiveBytes(void *buffer, int count);
    // The peer as the platform reports it; all zero when not connected or unknown.
    TSockAddrIn RemoteEndpoint();
    // Closes now: the disconnect event fires (handle still open), then the handle closes.
    void CloseConnection();

    // 1 at creation, never touched by the layer; its address is fixed for the object's life.
    std::int32_t UserWord = 1;

protected:
    TCustomWinSocket();
    ~TCustomWinSocket() override;

    enum class Notify { Read, Write };

    int handle() const { return fd_; }
    void attach(int fd, bool connected, const TSockAddrIn &endpoint);
    void armRead(bool on);
    void armWrite(bool on);
    void disarmAll();
    void setEndpoint(const TSockAddrIn &endpoint) { endpoint_ = endpoint; }
    // Closing a handle with the disconnect event; nothing when fd is not the current one.
    void closeHandle(int fd);
    // Closing the current handle without any event (abandoned attempts, destruction).
    void dropHandle() noexcept;
    void setConnected(bool on) { connected_ = on; }
    // A failure reported with a notification: the error event, then the error unless handled.
    void notificationError(TErrorEvent kind, int code);

    virtual void readNotified();
    virtual void writeNotified();
    virtual void fireNotify(Notify what) = 0;
    virtual void fireError(TErrorEvent kind, int &code) = 0;
    virtual void disconnecting() = 0;
    // Called when the last call of this object has left the stack.
    virtual void becameIdle() {}

    // Keeps the object alive while one of its calls or events is on the stack.
    class Busy {
    public:
        explicit Busy(TCustomWinSocket *socket) : socket_(socket) { ++socket_->busy_; }
        ~Busy();
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        TCustomWinSocket *socket_;
    };

    bool doomed() const { return doomed_; }
    bool busy() const { return busy_ > 0; }

private:
    friend struct SocketDeleter;
    void destroySoon();
    void onNotifier(Notify what);
    void readConnection(int fd);
    void updateReadNotifier();
    void park(int waiting);
    void unpark();
    void parkTick();
    void failedCall(TErrorEvent kind, int error, const char *api);

    int fd_ = -1;
    bool connected_ = false;
    TSockAddrIn endpoint_;
    QSocketNotifier *readNotifier_ = nullptr;
    bool readNotifierOn_ = false; // what readNotifier_ was last told
    QSocketNotifier *writeNotifier_ = nullptr;
    ReadPacer pacer_;
    QTimer *parkTimer_ = nullptr; // polls while pacer_ is parked
    bool writeArmed_ = false;
    int busy_ = 0;
    bool doomed_ = false;
    bool closing_ = false;
};

// The connection object of a TClientSocket; one for the component's whole life.
class TClientWinSocket : public TCustomWinSocket {
    Q_OBJECT
public:
    TClientSocket *ClientSocket() const { return component_; }

private:
    friend class TClientSocket;
    explicit TClientWinSocket(TClientSocket *component) : component_(component) {}
    void writeNotified() override;
    void fireNotify(Notify what) override;
    void fireError(TErrorEvent kind, int &code) override;
    void disconnecting() override;

    TClientSocket *component_;
};

// An accepted connection, owned by its listening object.
class TServerClientWinSocket : public TCustomWinSocket {
    Q_OBJECT
public:
    TServerWinSocket *ServerWinSocket() const { return owner_; }

private:
    friend class TServerWinSocket;
    TServerClientWinSocket(TServerWinSocket *owner, int fd, const TSockAddrIn &peer, std::uint64_t serial);
    void fireNotify(Notify what) override;
    void fireError(TErrorEvent kind, int &code) override;
    void disconnecting() override;
    void becameIdle() override;

    TServerWinSocket *owner_;
    std::uint64_t serial_;
    bool releaseWhenIdle_ = false;
};

// The listening object of a TServerSocket.
class TServerWinSocket : public TCustomWinSocket {
    Q_OBJECT
public:
    // The accepted connections in order of acceptance (a copy: handlers may change the list).
    std::vector<TServerClientWinSocket *> ClientConnections() const;
    int ActiveConnections() const;
    TServerSocket *ServerSocket() const { return component_; }

private:
    friend class TServerSocket;
    friend class TServerClientWinSocket;
    explicit TServerWinSocket(TServerSocket *component) : component_(component) {}
    ~TServerWinSocket() override;
    void listen(std::uint16_t port);
    void stopListening();
    void readNotified() override;
    void writeNotified() override {}
    void fireNotify(Notify) override {}
    void fireError(TErrorEvent kind, int &code) override;
    void disconnecting() override {}
    void accept();
    void requestRelease(TServerClientWinSocket *client);
    void release(std::uint64_t generation, std::uint64_t serial);
    void destroyClient(TServerClientWinSocket *client);

    TServerSocket *component_;
    mutable std::recursive_mutex listLock_;
    std::vector<TServerClientWinSocket *> clients_;
    std::uint64_t generation_ = 0;
    std::uint64_t nextSerial_ = 0;
    bool listening_ = false;
    QTimer *acceptPause_ = nullptr;
};

// Makes one outgoing IPv4 connection at a time.
class TClientSocket : public QObject {
    Q_OBJECT
public:
    explicit TClientSocket(QObject *parent = nullptr);
    ~TClientSocket() override;

    // True from the connect notification until the connection closes. Writing true starts an
    // attempt (a new handle replaces an attempt that has not completed); false closes the
    // connection (OnDisconnect) or abandons the attempt (no further events).
    bool Active() const { return active_; }
    void SetActive(bool value);
    // Dotted-quad text; may be changed only while Active is false (same text in any letter
    // case is no change).
    const std::string &Address() const { return address_; }
    void SetAddress(const std::string &value);
    std::uint16_t Port() const { return port_; }
    void SetPort(std::uint16_t value);
    TClientType ClientType() const { return ctNonBlocking; }
    void SetClientType(TClientType value);
    TClientWinSocket *Socket() const { return socket_.get(); }

    TSocketNotifyEvent OnLookup, OnConnecting, OnConnect, OnDisconnect, OnRead, OnWrite;
    TSocketErrorEvent OnError;

private:
    friend class TClientWinSocket;
    void checkInactive() const;

    std::unique_ptr<TClientWinSocket, SocketDeleter> socket_;
    std::string address_;
    std::uint16_t port_ = 0;
    bool active_ = false;
};

// Listens on all local IPv4 interfaces and accepts any number of connections.
class TServerSocket : public QObject {
    Q_OBJECT
public:
    explicit TServerSocket(QObject *parent = nullptr);
    ~TServerSocket() override;

    // True while listening. Writing true binds and listens (errors reach the writer);
    // false destroys the accepted connections without events and stops listening.
    bool Active() const;
    void SetActive(bool value);
    std::uint16_t Port() const { return port_; }
    void SetPort(std::uint16_t value);
    TServerType ServerType() const { return stNonBlocking; }
    void SetServerType(TServerType value);
    TServerWinSocket *Socket() const { return socket_.get(); }

    // Sender: this component; Socket: the listening object (OnListen) or the new connection.
    TSocketNotifyEvent OnListen, OnAccept;
    // Sender: the listening object; Socket: the accepted connection concerned.
    TSocketNotifyEvent OnClientConnect, OnClientDisconnect, OnClientRead, OnClientWrite;
    TSocketErrorEvent OnClientError;

private:
    friend class TServerWinSocket;
    friend class TServerClientWinSocket;

    std::unique_ptr<TServerWinSocket, SocketDeleter> socket_;
    std::uint16_t port_ = 0;
};

} // namespace bramblet
