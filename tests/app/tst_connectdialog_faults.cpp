// The connect dialog against faults and strangers on loopback: a refused or reset CLIENT
// connection, a port another program holds at the show, stray opening datagrams, echoes
// from elsewhere, and probes that cannot be sent.
#include "support/ConnectDialogFixture.h"

#include <QtTest>

#include <sys/socket.h>

using namespace bramblet;
using namespace bramblet::test;

namespace {

const QString kNoEcho = QStringLiteral("对方Bramblet版本太低或者网络不通");
const QHostAddress kStranger(QStringLiteral("127.0.0.9"));
constexpr int kLinkMs = 15 * kTestTickMs + 5000;

// Ends the connection with a reset, as a restarting program or a router would.
void resetConnection(QTcpSocket *s)
{
    const linger l { 1, 0 };
    ::setsockopt(static_cast<int>(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    s->abort();
}

} // namespace

class TestConnectDialogFaults : public QObject {
    Q_OBJECT
    CaseBoxes messages;

private slots:
    void init() { messages.start(); }
    void cleanup() { messages.checkNoneLeft(); }

    void clientTriesAgain_data()
    {
        QTest::addColumn<bool>("reset");
        QTest::newRow("refused: soon, not at the next retry") << false;
        QTest::newRow("reset mid-negotiation: links once the SERVER answers again") << true;
    }
    void clientTriesAgain()
    {
        QFETCH(bool, reset);
        DialogPorts ports;
        ConnectDialogOptions options = ports.options();
        if (!reset) { // only the quick retry after a refusal can connect in time
            options.retryIntervalMs = 60000;
            options.refusedRetryIntervalMs = 100;
        }
        TFormConnect d(nullptr, options);
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        NegotiationPeer peer;
        peer.dialogUdpPort = ports.udp;
        QVERIFY(peer.bindUdp(ports.peerUdp));
        peer.answerTcp = !reset;
        if (reset)
            QVERIFY(peer.listen(ports.tcp));
        QVERIFY(runModal(d, [&] {
            if (reset) {
                QTRY_COMPARE(peer.received.size(), 1); // the hello, left unanswered
                resetConnection(peer.connections[0]);
                peer.answerTcp = true;
            } else {
                QTest::qWait(300); // staging: the first attempts are refused
                QVERIFY(peer.listen(ports.tcp));
            }
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), kLinkMs);
        }));
        QCOMPARE(d.ResultCode, 0);
        QCOMPARE(d.LossRating, QStringLiteral("没有丢包"));
    }

    // A port held at the show is told once; while the speed-test port is held no TCP side
    // opens (a peer would negotiate into a half-open dialog); once free, the link completes.
    void heldPortLinksOnceFree_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("udpHeld");
        QTest::newRow("SERVER, UDP held") << 1 << true;
        QTest::newRow("SERVER, TCP held") << 1 << false;
        QTest::newRow("CLIENT, UDP held") << 2 << true;
    }
    void heldPortLinksOnceFree()
    {
        QFETCH(int, role);
        QFETCH(bool, udpHeld);
        const bool server = role == 1;
        DialogPorts ports;
        QUdpSocket udpHolder;
        QTcpServer tcpHolder;
        if (udpHeld)
            QVERIFY(udpHolder.bind(QHostAddress::AnyIPv4, ports.udp, QAbstractSocket::DontShareAddress));
        else
            QVERIFY(tcpHolder.listen(QHostAddress::AnyIPv4, ports.tcp));
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        d.SetRole(role);
        NegotiationPeer peer;
        peer.dialogUdpPort = ports.udp;
        QUdpSocket *udp = peer.bindUdp(server ? 0 : ports.peerUdp);
        QVERIFY(udp);
        if (!server)
            QVERIFY(peer.listen(ports.tcp));
        QVERIFY(runModal(d, [&] {
            QTest::qWait(4 * kTestRetryMs); // staging: several retries go by
            QCOMPARE(messages.boxes.size(), 1);
            QCOMPARE(openParts(d), udpHeld ? QStringLiteral("Timer1") : QStringLiteral("Timer1 UDPServer1"));
            QVERIFY(peer.connections.isEmpty());
            udpHolder.close();
            tcpHolder.close();
            if (server) {
                QTRY_VERIFY_WITH_TIMEOUT(d.ServerSocket1->Active(), 20 * kTestRetryMs + 5000);
                peer.connectTo(ports.tcp);
            }
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), kLinkMs);
        }));
        QCOMPARE(d.ResultCode, 0);
        QCOMPARE(d.LossRating, QStringLiteral("没有丢包"));
        QCOMPARE(d.PeerUdpPort, udp->localPort());
        QCOMPARE(messages.boxes.size(), 1);
        messages.boxes.clear();
    }

    // Only the peer met on TCP, once its address has come, opens the SERVER's test.
    void straySpeedOpenChangesNothing_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<bool>("stranger");
        QTest::newRow("before the negotiation") << 0 << false;
        QTest::newRow("after the hello, before the peer's address") << 1 << false;
        QTest::newRow("after the peer's address, from another address") << 2 << true;
    }
    void straySpeedOpenChangesNothing()
    {
        QFETCH(int, stage);
        QFETCH(bool, stranger);
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        d.SetRole(1);
        NegotiationPeer peer;
        peer.answerTcp = false;
        peer.dialogUdpPort = ports.udp;
        QUdpSocket *udp = peer.bindUdp(0);
        QUdpSocket *other = peer.bindUdp(0, kStranger);
        QVERIFY(udp && other && peer.bindUdp(ports.peerUdp));
        QVERIFY(runModal(d, [&] {
            QTcpSocket *c = nullptr;
            auto negotiateTo = [&](int step) {
                if (!c && step >= 1) {
                    c = peer.connectTo(ports.tcp);
                    c->write(helloMessage(2));
                    QTRY_COMPARE(peer.received.size(), 1);
                }
                if (step >= 2 && peer.received.size() < 2) {
                    c->write(addressMessage("10.1.1.1"));
                    QTRY_COMPARE(peer.received.size(), 2);
                }
            };
            negotiateTo(stage);
            const QString caption = d.Panel1->text();
            peer.sendDatagram(le32(0), 0, stranger ? other : udp);
            // A probe behind it: once it is answered, the stray datagram has been read.
            peer.sendDatagram(speedDatagram(1, 5), 0, udp);
            QTRY_COMPARE(peer.datagramsOfType(2).size(), 1);
            QCOMPARE(peer.datagramsOfType(2)[0].toPort, ports.peerUdp);
            QCOMPARE(d.PeerUdpPort, ports.peerUdp);
            QVERIFY(!d.TimerSpeedTest->isActive());
            QCOMPARE(d.Panel1->text(), caption);
            // The peer that follows the protocol still opens the test.
            negotiateTo(2);
            peer.sendDatagram(le32(0), 0, udp);
            QTRY_VERIFY(d.TimerSpeedTest->isActive());
            QCOMPARE(d.PeerUdpPort, udp->localPort());
        }));
    }

    // A stranger answers every probe at once, in the silent peer's place: nothing counts. Its
    // own probe is answered, to the peer.
    void echoesCountOnlyFromThePeer_data()
    {
        QTest::addColumn<int>("role");
        QTest::newRow("dialog is SERVER") << 1;
        QTest::newRow("dialog is CLIENT") << 2;
    }
    void echoesCountOnlyFromThePeer()
    {
        QFETCH(int, role);
        const bool server = role == 1;
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        d.SetRole(role);
        NegotiationPeer peer;
        peer.dialogUdpPort = ports.udp;
        QUdpSocket *own = peer.bindUdp(server ? 0 : ports.peerUdp);
        QUdpSocket *stranger = peer.bindUdp(0, kStranger);
        QVERIFY(own && stranger);
        peer.onDatagram = [&](QUdpSocket *s, const QByteArray &data, const QHostAddress &, quint16) {
            if (s == own && readLe32(data, 0) == 1)
                peer.sendDatagram(speedDatagram(2, readLe32(data, 4)), 0, stranger);
        };
        if (!server)
            QVERIFY(peer.listen(ports.tcp));
        QVERIFY(runModal(d, [&] {
            if (server)
                peer.connectTo(ports.tcp);
            QTRY_VERIFY(d.TimerSpeedTest->isActive());
            peer.sendDatagram(speedDatagram(1, 7), 0, stranger);
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), kLinkMs);
        }));
        QCOMPARE(d.ResultCode, 0);
        const auto &measured = speedTestCounters().Rtt;
        QCOMPARE(QList<int>(measured.begin(), measured.end()), QList<int>(10, -1));
        QCOMPARE((QStringList { d.SpeedRating, d.StabilityRating, d.LossRating }),
            (QStringList { kNoEcho, kNoEcho, kNoEcho }));
        const QList<PeerDatagram> echoes = peer.datagramsOfType(2);
        QCOMPARE(echoes.size(), 1);
        QCOMPARE(echoes[0].bytes, speedDatagram(2, 7));
        QCOMPARE(echoes[0].toPort, own->localPort());
    }

    // Another program takes the speed-test port during the test: one box, and the test ends
    // as usual.
    void failingProbeIsToldOnce()
    {
        DialogPorts ports;
        ConnectDialogOptions options = ports.options();
        options.retryIntervalMs = 60000; // no retry binds the port again meanwhile
        TFormConnect d(nullptr, options);
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        NegotiationPeer peer;
        peer.dialogUdpPort = ports.udp;
        QVERIFY(peer.bindUdp(ports.peerUdp) && peer.listen(ports.tcp));
        QUdpSocket holder;
        QVERIFY(runModal(d, [&] {
            QTRY_VERIFY(d.TimerSpeedTest->isActive());
            d.UDPServer1->SetActive(false);
            QVERIFY(holder.bind(QHostAddress::AnyIPv4, ports.udp, QAbstractSocket::DontShareAddress));
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), kLinkMs);
        }));
        QCOMPARE(d.ResultCode, 0);
        QCOMPARE(messages.boxes.size(), 1);
        QVERIFY2(messages.boxes[0].text.startsWith(QStringLiteral("Could not bind socket.")),
            qPrintable(messages.boxes[0].text));
        messages.boxes.clear();
    }
};

QTEST_MAIN(TestConnectDialogFaults)
#include "tst_connectdialog_faults.moc"
