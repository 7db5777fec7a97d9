#pragma once

// A bound UDP endpoint whose datagrams arrive as events on the main thread.
//
// Usage:
//     TUDPServer udp;
//     auto &b = udp.Bindings.Add();      // or leave Bindings empty and set DefaultPort
//     b.IP = "0.0.0.0"; b.Port = 5739;
//     udp.OnUDPRead = [](QObject *, const TBytes &data, TUDPSocketHandle *binding) {
//         ... data.size(), binding->SourceIP, binding->SourcePort ... };
//     udp.SetActive(true);               // throws "Could not bind socket. ..." when taken
//     udp.SendDatagram("10.0.0.2", 5739, bytes);   // leaves from the bound port
//
// A listener thread waits for datagrams (1000 ms waits, woken at once on deactivation),
// receives one at a time and hands it to the main thread's event loop, waiting until
// OnUDPRead has returned; so at most one datagram is in the owner's hands and the binding's
// SourceIP/SourcePort stay put while it runs. An error that leaves OnUDPRead (a failing
// SendDatagram included) goes to OnUDPException and is shown nowhere; the next datagram is
// delivered as usual. Deactivation (also on destruction) runs a handover that is still
// waiting before it completes, and may be called from inside OnUDPRead.

#include "net/SocketError.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bramblet {

using TBytes = std::vector<std::uint8_t>;

enum TIPVersion { ipV4, ipV6 };

// One local endpoint of a TUDPServer.
class TUDPSocketHandle {
public:
    // Local address; empty or "0.0.0.0" is every interface. After binding: as bound.
    std::string IP;
    // Local port; 0 lets the system choose (or tries ClientPortMax down to ClientPortMin
    // when both are set). After binding: the port bound.
    int Port = 0;
    TIPVersion IPVersion = ipV4;
    int ClientPortMin = 0;
    int ClientPortMax = 0;
    // Sender of the datagram last received on this binding.
    std::string SourceIP;
    int SourcePort = 0;

    std::uint32_t Handle() const { return fd_ < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(fd_); }

private:
    friend class TUDPServer;
    int fd_ = -1;
};

class TUDPServer;

// The bindings, in the order given; the objects keep their address for their whole life.
class TUDPSocketHandles {
public:
    TUDPSocketHandle &Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TUDPSocketHandle &operator[](int index) { return *items_.at(static_cast<std::size_t>(index)); }
    const TUDPSocketHandle &operator[](int index) const { return *items_.at(static_cast<std::size_t>(index)); }
    // Only while the endpoint is inactive.
    void Clear();

private:
    friend class TUDPServer;
    explicit TUDPSocketHandles(TUDPServer *owner) : owner_(owner) {}
    TUDPServer *owner_;
    std::vector<std::unique_ptr<TUDPSocketHandle>> items_;
};

// AData holds exactly one datagram (possibly empty) and is valid for the call only.
using TUDPReadEvent = std::function<void(QObject *Sender, const TBytes &AData, TUDPSocketHandle *ABinding)>;
using TUDPExceptionEvent = std::function<void(QObject *Sender, TUDPSocketHandle *ABinding,
                                              const std::string &AMessage, const std::string &AExceptionClass)>;

class TUDPServer : public QObject {
    Q_OBJECT
public:
    explicit TUDPServer(QObject *parent = nullptr);
    ~TUDPServer() override;

    // True while the sending binding has an open handle.
    bool Active() const;
    void SetActive(bool value);

    // Sends one datagram from the sending binding (activating first when inactive). The host
    // is "localhost", a dotted quad, or a name that is looked up. Throws on failure.
    void SendDatagram(const std::string &host, int port, const TBytes &data);
    void SendDatagram(const std::string &host, int port, const void *data, std::size_t size);

    // The binding sends go through: the first at activation, then each one that has just
    // received; nullptr while inactive.
    TUDPSocketHandle *SendingBinding() const { return sendingBinding_; }

    TUDPSocketHandles Bindings{this};
    int DefaultPort = 0;
    // The largest datagram delivered; a longer one goes to OnUDPException as too long.
    int BufferSize = 8192;
    bool BroadcastEnabled = false;
    TIPVersion IPVersion = ipV4;
    // false: the events run on the main thread; true: on the listener thread.
    bool ThreadedEvent = false;

    TUDPReadEvent OnUDPRead;
    TUDPExceptionEvent OnUDPException;

    // Name lookup for SendDatagram: the network-order IPv4 address, false when unknown.
    // Replaceable so that tests need no name service.
    std::function<bool(const std::string &name, std::uint32_t &address)> HostResolver;

private:
    struct Listener;
    struct Handover;
    friend class TUDPSocketHandles;

    void activate();
    void deactivate();
    void bindOne(TUDPSocketHandle &binding, int fd);
    std::uint32_t hostAddress(const std::string &host) const;
    void drain(const std::shared_ptr<Listener> &listener);
    void runHandover(Handover &handover);
    static void listen(std::shared_ptr<Listener> listener);

    std::shared_ptr<Listener> listener_;
    TUDPSocketHandle *sendingBinding_ = nullptr;
};

} // namespace bramblet
