#pragma once

// The other side of a link start, scripted: speaks the negotiation on TCP and the speed test
// on UDP over real loopback sockets (Qt's own, not the program's socket layer), answers as a
// well-behaved peer unless told otherwise, and records everything the dialog sent.

#include "support/NegotiationMessages.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <functional>

namespace bramblet::test {

// Free ports for one test, asked of the system.
inline quint16 freeTcpPort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}
inline quint16 freeUdpPort()
{
    QUdpSocket s;
    return s.bind(QHostAddress::AnyIPv4, 0) ? s.localPort() : 0;
}
inline bool tcpPortFree(quint16 port)
{
    QTcpServer s;
    return s.listen(QHostAddress::AnyIPv4, port);
}
inline bool udpPortFree(quint16 port)
{
    QUdpSocket s;
    return s.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress);
}

struct PeerDatagram {
    QByteArray bytes;
    quint16 fromPort = 0;
    QHostAddress to; // the peer address it was sent to
    quint16 toPort = 0;
};

class NegotiationPeer : public QObject {
public:
    // What the peer puts in its NegAddress: the dialog's address as the peer "sees" it.
    QByteArray addressText = "203.0.113.9";
    bool answerTcp = true; // follow the negotiation
    bool sendSpeedOpen = true; // as CLIENT, open the speed test on the port request
    quint16 dialogUdpPort = 0; // where the peer's datagrams go
    // Answers one datagram of the dialog; the default echoes each probe at once.
    std::function<void(QUdpSocket *, const QByteArray &, const QHostAddress &, quint16)> onDatagram;

    QList<QByteArray> received; // TCP messages from the dialog, whole, in order of arrival
    QList<PeerDatagram> datagrams;
    QList<QTcpSocket *> connections;
    int disconnects = 0;

    NegotiationPeer()
    {
        onDatagram = [this](QUdpSocket *s, const QByteArray &d, const QHostAddress &a, quint16 p) { echo(s, d, a, p); };
    }

    // Plays the SERVER: the dialog connects here.
    bool listen(quint16 port)
    {
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server_.nextPendingConnection())
                adopt(s, true);
        });
        return server_.listen(QHostAddress::LocalHost, port);
    }

    // Plays a CLIENT connecting from `from` (any 127.x address).
    QTcpSocket *connectTo(quint16 port, const QHostAddress &from = QHostAddress::LocalHost)
    {
        auto *s = new QTcpSocket(this);
        s->bind(from, 0);
        adopt(s, false);
        QObject::connect(s, &QTcpSocket::connected, this, [this, s] {
            if (answerTcp)
                s->write(helloMessage(2));
        });
        s->connectToHost(QHostAddress::LocalHost, port);
        return s;
    }

    // The first socket bound sends the peer's own datagrams.
    QUdpSocket *bindUdp(quint16 port, const QHostAddress &address = QHostAddress::LocalHost)
    {
        auto *s = new QUdpSocket(this);
        if (!s->bind(address, port, QAbstractSocket::DontShareAddress))
            return nullptr;
        udp_.append(s);
        QObject::connect(s, &QUdpSocket::readyRead, this, [this, s] {
            while (s->hasPendingDatagrams()) {
                QByteArray d(static_cast<int>(s->pendingDatagramSize()), '\0');
                QHostAddress from;
                quint16 fromPort = 0;
                s->readDatagram(d.data(), d.size(), &from, &fromPort);
                datagrams.append({ d, fromPort, s->localAddress(), s->localPort() });
                onDatagram(s, d, from, fromPort);
            }
        });
        return s;
    }

    void sendDatagram(const QByteArray &bytes, quint16 port = 0, QUdpSocket *from = nullptr)
    {
        (from ? from : udp_.value(0))->writeDatagram(bytes, QHostAddress::LocalHost, port ? port : dialogUdpPort);
    }

    void echo(QUdpSocket *s, const QByteArray &d, const QHostAddress &to, quint16 port)
    {
        if (d.size() >= 8 && readLe32(d, 0) == 1)
            s->writeDatagram(speedDatagram(2, readLe32(d, 4)), to, port);
    }

    QList<QByteArray> receivedOfType(qint32 type) const
    {
        QList<QByteArray> out;
        for (const QByteArray &m : received)
            if (readLe32(m, 0) == type)
                out.append(m);
        return out;
    }
    QList<PeerDatagram> datagramsOfType(qint32 type) const
    {
        QList<PeerDatagram> out;
        for (const PeerDatagram &d : datagrams)
            if (d.bytes.size() >= 4 && readLe32(d.bytes, 0) == type)
                out.append(d);
        return out;
    }

private:
    void adopt(QTcpSocket *s, bool accepted)
    {
        connections.append(s);
        QObject::connect(s, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
        QObject::connect(s, &QTcpSocket::readyRead, this, [this, s, accepted] {
            QByteArray &buffer = buffers_[s];
            buffer += s->readAll();
            while (buffer.size() >= 4) {
                const qint32 type = readLe32(buffer, 0);
                const int size = type == 0 ? 8 : type == 1 ? 36 : type == 2 ? 4 : static_cast<int>(buffer.size());
                if (buffer.size() < size)
                    break;
                received.append(buffer.left(size));
                buffer.remove(0, size);
                if (answerTcp)
                    answer(s, type, accepted);
            }
        });
    }

    void answer(QTcpSocket *s, qint32 type, bool accepted)
    {
        if (accepted && type == 0)
            s->write(addressMessage(addressText));
        else if (accepted && type == 1)
            s->write(portRequestMessage());
        else if (!accepted && type == 1)
            s->write(addressMessage(addressText));
        else if (!accepted && type == 2 && sendSpeedOpen)
            sendDatagram(le32(0));
    }

    QTcpServer server_;
    QList<QUdpSocket *> udp_;
    QHash<QTcpSocket *, QByteArray> buffers_;
};

} // namespace bramblet::test
