// The connect dialog against a scripted peer on loopback: the negotiation in both roles, its
// framing and malformed input, the speed test's echo rules, and cancelling at every stage.
#include "support/ConnectDialogFixture.h"

#include <QtTest>

using namespace bramblet;
using namespace bramblet::test;

namespace {

const QString kAccepted = QStringLiteral("已建立连接，正在接收信息");
const QString kConnected = QStringLiteral("已建立连接，正在发送信息");
const QString kHelloAnswered = QStringLiteral("正在返回客户端地址");
const QString kPortRequested = QStringLiteral("正在请求端口");
const QString kAddressAnswered = QStringLiteral("正在返回服务器地址");
const QString kTesting = QStringLiteral("测试速度，请等待10秒钟...");
const QString kNoEcho = QStringLiteral("对方Bramblet版本太低或者网络不通");
const QStringList kGrades = { QStringLiteral("极好"), QStringLiteral("很好"), QStringLiteral("良好"),
    QStringLiteral("一般"), QStringLiteral("差"), QStringLiteral("非常差") };

enum EchoPolicy { Once, Twice, OddLate, Foreign, ClockBack, Silent };

} // namespace

class TestConnectDialog : public QObject {
    Q_OBJECT
    CaseBoxes messages;

private slots:
    void init() { messages.start(); }
    void cleanup() { messages.checkNoneLeft(); }

    void normalSequence_data()
    {
        QTest::addColumn<int>("role");
        QTest::newRow("dialog is SERVER") << 1;
        QTest::newRow("dialog is CLIENT") << 2;
    }
    void normalSequence()
    {
        QFETCH(int, role);
        const bool server = role == 1;
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        NegotiationPeer peer;
        peer.answerTcp = false;
        peer.dialogUdpPort = ports.udp;
        // As SERVER the dialog must learn the peer's port from the opening datagram.
        QUdpSocket *udp = peer.bindUdp(server ? freeUdpPort() : ports.peerUdp);
        QVERIFY(udp);
        if (server)
            QVERIFY(udp->localPort() != ports.peerUdp);
        QStringList captionsAtProbes;
        peer.onDatagram = [&](QUdpSocket *s, const QByteArray &data, const QHostAddress &to, quint16 port) {
            if (readLe32(data, 0) == 1)
                captionsAtProbes << d.Panel1->text();
            peer.echo(s, data, to, port);
        };
        if (!server)
            QVERIFY(peer.listen(ports.tcp));
        d.SetPeerAddress(server ? QStringLiteral("127.0.0.1") : QStringLiteral("127.1"));
        d.SetRole(role);

        QVERIFY(runModal(d, [&] {
            if (server) {
                QTcpSocket *c = peer.connectTo(ports.tcp);
                QTRY_COMPARE(d.Panel1->text(), kAccepted);
                QVERIFY(d.Panel1->isVisible() && !d.Image1->isVisible());
                c->write(helloMessage(2));
                QTRY_COMPARE(peer.received.size(), 1);
                QCOMPARE(peer.received[0], addressMessage("127.0.0.1"));
                QCOMPARE(d.Panel1->text(), kHelloAnswered);
                QCOMPARE(d.ObservedAddress, QStringLiteral("127.0.0.1"));
                c->write(addressMessage("198.51.100.20"));
                QTRY_COMPARE(peer.received.size(), 2);
                QCOMPARE(peer.received[1], QByteArray::fromHex("02000000"));
                QCOMPARE(d.Panel1->text(), kPortRequested);
                peer.sendDatagram(QByteArray::fromHex("00000000"));
                QTRY_VERIFY(d.TimerSpeedTest->isActive());
                QCOMPARE(d.PeerUdpPort, udp->localPort());
            } else {
                QTRY_COMPARE(peer.received.size(), 1);
                QCOMPARE(peer.received[0], QByteArray::fromHex("0000000002000000"));
                QCOMPARE(d.Panel1->text(), kConnected);
                peer.connections[0]->write(addressMessage("203.0.113.9"));
                QTRY_COMPARE(peer.received.size(), 2);
                QCOMPARE(peer.received[1], addressMessage("127.0.0.1"));
                QCOMPARE(d.Panel1->text(), kAddressAnswered);
                peer.connections[0]->write(portRequestMessage());
                QTRY_VERIFY(!peer.datagrams.isEmpty());
                QCOMPARE(peer.datagrams[0].bytes, QByteArray::fromHex("00000000"));
                QCOMPARE(peer.datagrams[0].fromPort, ports.udp);
                QCOMPARE(d.Panel1->text(), kTesting);
            }
            // The dialog answers the peer's probes too, to the port it knows.
            peer.sendDatagram(speedDatagram(1, 4));
            QTRY_COMPARE(peer.datagramsOfType(2).size(), 1);
            QCOMPARE(peer.datagramsOfType(2)[0].bytes, QByteArray::fromHex("0200000004000000"));
            QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 15 * kTestTickMs + 5000);
        }));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(d.ResultCode, 0);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(d.PeerAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(d.OwnAddress, server ? QStringLiteral("198.51.100.20") : QStringLiteral("203.0.113.9"));
        QCOMPARE(d.Results().PeerUdpPort, udp->localPort());
        QCOMPARE(d.LossRating, QStringLiteral("没有丢包"));
        QVERIFY2(kGrades.contains(d.SpeedRating) && kGrades.contains(d.StabilityRating), qPrintable(d.SpeedRating));
        for (const std::int32_t rtt : speedTestCounters().Rtt)
            QVERIFY2(rtt >= 0 && rtt < kTestTickMs, qPrintable(QString::number(rtt)));
        const QList<PeerDatagram> probes = peer.datagramsOfType(1);
        QCOMPARE(probes.size(), 10);
        for (int i = 0; i < probes.size(); ++i) {
            QCOMPARE(probes[i].bytes, speedDatagram(1, i));
            QCOMPARE(probes[i].fromPort, ports.udp);
        }
        QStringList countdown;
        for (int s = 10; s >= 1; --s)
            countdown << QStringLiteral("测试速度，请等待%1秒钟...").arg(s);
        QCOMPARE(captionsAtProbes, countdown);
        QCOMPARE(d.Button1->text(), QStringLiteral("确定"));
        QCOMPARE(openParts(d), QString());

        // A later show starts afresh but keeps the button's caption, which still cancels.
        QVERIFY(runModal(d, [&] {
            QCOMPARE(d.ResultCode, -1);
            QCOMPARE(d.PeerUdpPort, ports.peerUdp);
            QVERIFY(d.Image1->isVisible() && !d.Panel1->isVisible());
            QCOMPARE(d.Button1->text(), QStringLiteral("确定"));
            QTest::mouseClick(d.Button1, Qt::LeftButton);
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(d.ResultCode, -1);
        QCOMPARE(openParts(d), QString());
    }

    void rolesOtherThanServerAreClient_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<bool>("set");
        QTest::newRow("never set (-1)") << -1 << false;
        QTest::newRow("0") << 0 << true;
        QTest::newRow("2, as the main window sets it") << 2 << true;
        QTest::newRow("7") << 7 << true;
    }
    void rolesOtherThanServerAreClient()
    {
        QFETCH(int, role);
        QFETCH(bool, set);
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        NegotiationPeer peer;
        peer.answerTcp = false;
        QVERIFY(peer.listen(ports.tcp));
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        if (set)
            d.SetRole(role);
        QVERIFY(runModal(d, [&] {
            QTRY_COMPARE(peer.received.size(), 1);
            QCOMPARE(peer.received[0], helloMessage(role));
            QVERIFY(!d.ServerSocket1->Active());
        }));
    }

    // What the SERVER answers to chunks written on one connection, with a pause between them.
    void negotiationStream_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<QString>("ownAddress");
        const QByteArray hello = helloMessage(2);
        const QByteArray toClient = addressMessage("127.0.0.1");
        const QByteArray port = portRequestMessage();
        const QByteArray address = addressMessage("10.1.1.1");
        using L = QList<QByteArray>;
        QTest::newRow("hello repeated, any role")
            << L { hello, helloMessage(77) } << L { toClient, toClient } << QString();
        QTest::newRow("address repeated overwrites")
            << L { hello, address, addressMessage("10.2.2.2") } << L { toClient, port, port } << "10.2.2.2";
        QTest::newRow("two messages in one write") << L { hello + address } << L { toClient, port } << "10.1.1.1";
        QTest::newRow("message split over writes")
            << L { hello + address.left(10), address.mid(10, 20), address.mid(30) } << L { toClient, port }
            << "10.1.1.1";
        QTest::newRow("hello byte by byte")
            << L { hello.left(1), hello.mid(1, 3), hello.mid(4, 3), hello.mid(7) } << L { toClient } << QString();
        QTest::newRow("bytes after the zero carry no meaning")
            << L { hello, addressMessage(QByteArray("10.4.4.4\0garbage", 16)) } << L { toClient, port } << "10.4.4.4";
        const std::pair<const char *, QByteArray> malformed[] = {
            { "malformed: a host name", "evil.example" },
            { "malformed: a part above 255", "1.2.3.256" },
            { "malformed: a leading zero", "01.2.3.4" },
            { "malformed: three parts", "1.2.3" },
            { "malformed: a leading blank", " 1.2.3.4" },
            { "malformed: a line break", "1.2.3.4\n10.0.0.1" },
            { "malformed: 16 characters", "100.100.100.1000" },
            { "malformed: 32 bytes, no zero", QByteArray(32, '1') },
        };
        for (const auto &[name, bad] : malformed)
            QTest::newRow(name) << L { hello, addressMessage(bad) } << L { toClient } << QString();
        QTest::newRow("malformed, then good on the same connection")
            << L { hello, addressMessage("999.1.1.1") + address } << L { toClient, port } << "10.1.1.1";
        QTest::newRow("unknown type drops what came with it")
            << L { le32(7) + QByteArray(20, 'x') + hello, hello } << L { toClient } << QString();
        QTest::newRow("10000 bytes of garbage")
            << L { QByteArray(10000, '\xff'), hello } << L { toClient } << QString();
        QTest::newRow("port request is not the SERVER's") << L { port, hello } << L { toClient } << QString();
    }
    void negotiationStream()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QString, ownAddress);
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(QStringLiteral("192.0.2.44"));
        d.SetRole(1);
        NegotiationPeer peer;
        peer.answerTcp = false;
        QVERIFY(runModal(d, [&] {
            QTcpSocket *c = peer.connectTo(ports.tcp);
            QTRY_COMPARE(d.Panel1->text(), kAccepted);
            for (const QByteArray &chunk : chunks) {
                c->write(chunk);
                c->flush();
                QTest::qWait(60); // staging: one chunk per read, not a proof
            }
            // A last hello: its answer comes after every answer to what went before.
            c->write(helloMessage(2));
            QTRY_COMPARE(peer.received, answers + QList<QByteArray> { addressMessage("127.0.0.1") });
            QCOMPARE(d.OwnAddress, ownAddress);
            // Only a valid address replaces the typed one.
            QCOMPARE(d.PeerAddress, ownAddress.isEmpty() ? QStringLiteral("192.0.2.44") : QStringLiteral("127.0.0.1"));
        }));
    }

    void malformedAddressAtClient()
    {
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        NegotiationPeer peer;
        peer.answerTcp = false;
        QVERIFY(peer.listen(ports.tcp));
        QVERIFY(peer.bindUdp(ports.peerUdp));
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        QVERIFY(runModal(d, [&] {
            QTRY_COMPARE(peer.received.size(), 1);
            peer.connections[0]->write(addressMessage("127.0.0.1; rm -rf /"));
            // The port request starts the test: the address before it has been dealt with.
            peer.connections[0]->write(portRequestMessage());
            QTRY_COMPARE(peer.datagramsOfType(0).size(), 1);
            QCOMPARE(d.ObservedAddress, QString());
            QCOMPARE(d.OwnAddress, QString());
            QCOMPARE(peer.received.size(), 1);
        }));
    }

    // A second CLIENT is served in full and wins; the address seen on the connection, not the
    // typed one, becomes the peer's, and the speed test goes there.
    void secondClientOverwritesFirst()
    {
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(QStringLiteral("192.0.2.44"));
        d.SetRole(1);
        NegotiationPeer first, second;
        first.addressText = "10.0.0.1";
        second.addressText = "10.0.0.2";
        first.sendSpeedOpen = false;
        second.dialogUdpPort = ports.udp;
        QUdpSocket *secondUdp = second.bindUdp(0, QHostAddress(QStringLiteral("127.0.0.3")));
        QVERIFY(secondUdp);
        QVERIFY(runModal(d, [&] {
            first.connectTo(ports.tcp, QHostAddress(QStringLiteral("127.0.0.2")));
            QTRY_COMPARE(first.received.size(), 2);
            QCOMPARE(first.received[0], addressMessage("127.0.0.2"));
            QCOMPARE(d.PeerAddress, QStringLiteral("127.0.0.2"));
            QCOMPARE(d.OwnAddress, QStringLiteral("10.0.0.1"));
            second.connectTo(ports.tcp, QHostAddress(QStringLiteral("127.0.0.3")));
            QTRY_COMPARE(second.received.size(), 2);
            QCOMPARE(second.received, (QList<QByteArray> { addressMessage("127.0.0.3"), portRequestMessage() }));
            QCOMPARE(d.PeerAddress, QStringLiteral("127.0.0.3"));
            QCOMPARE(d.OwnAddress, QStringLiteral("10.0.0.2"));
            QCOMPARE(first.disconnects, 0);
            QTRY_VERIFY(!second.datagramsOfType(1).isEmpty());
            QCOMPARE(second.datagramsOfType(1)[0].to, QHostAddress(QStringLiteral("127.0.0.3")));
        }));
    }

    // The SERVER that never gets the opening datagram keeps waiting, but answers probes to
    // the port it assumes, not to where they came from.
    void lostSpeedOpen()
    {
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        d.SetRole(1);
        NegotiationPeer peer;
        peer.sendSpeedOpen = false;
        peer.dialogUdpPort = ports.udp;
        QUdpSocket *prober = peer.bindUdp(0);
        QUdpSocket *assumed = peer.bindUdp(ports.peerUdp);
        QVERIFY(prober && assumed);
        QVERIFY(runModal(d, [&] {
            peer.connectTo(ports.tcp);
            QTRY_COMPARE(peer.received.size(), 2);
            peer.sendDatagram(speedDatagram(1, 3), 0, prober);
            QTRY_COMPARE(peer.datagrams.size(), 1);
            QCOMPARE(peer.datagrams[0].bytes, speedDatagram(2, 3));
            QCOMPARE(peer.datagrams[0].toPort, ports.peerUdp);
            QTest::qWait(3 * kTestTickMs); // staging: ticks would have run by now
            QVERIFY(d.isVisible());
            QVERIFY(!d.TimerSpeedTest->isActive());
            QCOMPARE(d.Panel1->text(), kPortRequested);
            QCOMPARE(peer.datagrams.size(), 1);
            QTest::mouseClick(d.Button1, Qt::LeftButton);
        }));
        QCOMPARE(d.ResultCode, -1);
    }

    void echoes_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<QList<int>>("rtt");
        QTest::addColumn<QStringList>("words");
        const QList<int> all7(10, 7);
        const QStringList perfect = { QStringLiteral("极好"), QStringLiteral("极好"), QStringLiteral("没有丢包") };
        QTest::newRow("each probe echoed once") << int(Once) << all7 << perfect;
        QTest::newRow("each echo duplicated counts once") << int(Twice) << all7 << perfect;
        QTest::newRow("odd echoes late") << int(OddLate) << QList<int> { 7, -1, 7, -1, 7, -1, 7, -1, 7, -1 }
                                         << QStringList { QStringLiteral("极好"), QStringLiteral("极好"),
                                                QStringLiteral("有大量丢包") };
        QTest::newRow("short, foreign or stray echoes")
            << int(Foreign) << QList<int>(10, -1) << QStringList { kNoEcho, kNoEcho, kNoEcho };
        QTest::newRow("clock set back: no negative time") << int(ClockBack) << QList<int>(10, 0) << perfect;
        QTest::newRow("peer never answers")
            << int(Silent) << QList<int>(10, -1) << QStringList { kNoEcho, kNoEcho, kNoEcho };
    }
    void echoes()
    {
        QFETCH(int, policy);
        QFETCH(QList<int>, rtt);
        QFETCH(QStringList, words);
        DialogPorts ports;
        std::int64_t fakeNow = 1'000'000'000; // microseconds
        TFormConnect d(nullptr, ports.options([&fakeNow] { return fakeNow; }));
        d.SetPeerAddress(QStringLiteral("127.0.0.1"));
        NegotiationPeer peer;
        peer.dialogUdpPort = ports.udp;
        QVERIFY(peer.listen(ports.tcp));
        QVERIFY(peer.bindUdp(ports.peerUdp));
        int held = -1;
        peer.onDatagram = [&](QUdpSocket *s, const QByteArray &data, const QHostAddress &to, quint16 port) {
            if (data.size() < 8 || readLe32(data, 0) != 1)
                return;
            const qint32 seq = readLe32(data, 4);
            auto send = [&](const QByteArray &bytes) { s->writeDatagram(bytes, to, port); };
            switch (policy) {
            case Twice:
                send(speedDatagram(2, seq));
                [[fallthrough]];
            case Once:
                fakeNow += 7'999; // just under 8 ms: reads 7
                send(speedDatagram(2, seq));
                break;
            case OddLate:
                fakeNow += 7'999; // just under 8 ms: reads 7
                if (held >= 0)
                    send(speedDatagram(2, held)); // after the next probe went out: too late
                held = -1;
                if (seq % 2)
                    held = seq;
                else
                    send(speedDatagram(2, seq));
                break;
            case Foreign:
                send(speedDatagram(2, seq).left(7));
                send(QByteArray::fromHex("020000"));
                send(QByteArray());
                send(speedDatagram(2, seq + 1));
                send(speedDatagram(2, 99));
                send(speedDatagram(3, seq));
                send(le32(0)); // an opening datagram means nothing to a CLIENT
                break;
            case ClockBack:
                fakeNow -= 10'000'000;
                send(speedDatagram(2, seq));
                break;
            default:
                break;
            }
        };
        QVERIFY(runModal(d, [&] { QTRY_VERIFY_WITH_TIMEOUT(!d.isVisible(), 15 * kTestTickMs + 5000); }));
        QCOMPARE(d.ResultCode, 0);
        const auto &measured = speedTestCounters().Rtt;
        QCOMPARE(QList<int>(measured.begin(), measured.end()), rtt);
        QCOMPARE((QStringList { d.SpeedRating, d.StabilityRating, d.LossRating }), words);
        QCOMPARE(peer.datagramsOfType(1).size(), 10);
    }

    // Cancelling at every stage closes every socket and timer; the next show starts afresh.
    void cancelAtEveryStage_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<int>("stage");
        QTest::newRow("SERVER listening") << 1 << 0;
        QTest::newRow("SERVER connected") << 1 << 1;
        QTest::newRow("SERVER address sent") << 1 << 2;
        QTest::newRow("SERVER port requested") << 1 << 3;
        QTest::newRow("SERVER testing") << 1 << 4;
        QTest::newRow("CLIENT connecting, nobody listens") << 2 << 0;
        QTest::newRow("CLIENT without an address") << 2 << -1;
        QTest::newRow("CLIENT hello sent") << 2 << 1;
        QTest::newRow("CLIENT address sent") << 2 << 2;
        QTest::newRow("CLIENT testing") << 2 << 3;
    }
    void cancelAtEveryStage()
    {
        QFETCH(int, role);
        QFETCH(int, stage);
        const bool server = role == 1;
        DialogPorts ports;
        TFormConnect d(nullptr, ports.options());
        d.SetPeerAddress(stage < 0 ? QString() : QStringLiteral("127.0.0.1"));
        d.SetRole(role);
        NegotiationPeer peer;
        peer.answerTcp = false;
        peer.dialogUdpPort = ports.udp;
        QVERIFY(peer.bindUdp(ports.peerUdp));
        if (!server && stage > 0)
            QVERIFY(peer.listen(ports.tcp));
        QVERIFY(runModal(d, [&] {
            QTcpSocket *c = server && stage >= 1 ? peer.connectTo(ports.tcp) : nullptr;
            if (server) {
                if (stage >= 1)
                    QTRY_COMPARE(d.Panel1->text(), kAccepted);
                if (stage >= 2)
                    c->write(helloMessage(2));
                if (stage >= 3)
                    c->write(addressMessage("10.1.1.1"));
                QTRY_COMPARE(peer.received.size(), qMax(0, qMin(stage, 3) - 1));
                if (stage >= 4) // as a CLIENT does: after the port request
                    peer.sendDatagram(le32(0));
            } else {
                if (stage <= 0) // staging: a few attempts fail, silently (cleanup checks no box)
                    QTest::qWait(3 * kTestRetryMs);
                if (stage >= 1)
                    QTRY_COMPARE(peer.received.size(), 1);
                if (stage >= 2) {
                    peer.connections[0]->write(addressMessage("10.1.1.1"));
                    QTRY_COMPARE(peer.received.size(), 2);
                }
                if (stage >= 3)
                    peer.connections[0]->write(portRequestMessage());
            }
            if (stage == (server ? 4 : 3)) {
                QTRY_VERIFY(d.TimerSpeedTest->isActive());
                QTRY_VERIFY(!peer.datagramsOfType(1).isEmpty());
            }
            QVERIFY(d.UDPServer1->Active());
            QTest::mouseClick(d.Button1, Qt::LeftButton);
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(d.ResultCode, -1);
        QCOMPARE(openParts(d), QString());
        QVERIFY(!d.Image1->isVisible() && !d.Panel1->isVisible());
        QTRY_COMPARE(peer.disconnects, int(peer.connections.size()));
        QVERIFY(tcpPortFree(ports.tcp) || !server);
        QVERIFY(udpPortFree(ports.udp));
        const int probes = int(peer.datagramsOfType(1).size());

        QVERIFY(runModal(d, [&] {
            QCOMPARE(d.ResultCode, -1);
            QCOMPARE(d.PeerUdpPort, ports.peerUdp);
            QVERIFY(d.Image1->isVisible() && !d.Panel1->isVisible());
            QVERIFY(d.UDPServer1->Active() && d.Timer1->isActive() && !d.TimerSpeedTest->isActive());
            QCOMPARE(d.ServerSocket1->Active(), server);
            if (server) {
                peer.connectTo(ports.tcp);
                QTRY_COMPARE(d.Panel1->text(), kAccepted);
            }
        }));
        QCOMPARE(int(peer.datagramsOfType(1).size()), probes);
        QCOMPARE(openParts(d), QString());
    }
};

QTEST_MAIN(TestConnectDialog)
#include "tst_connectdialog.moc"
