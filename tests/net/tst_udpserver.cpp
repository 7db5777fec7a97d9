#include "LoopbackPeer.h"

#include "core/address.h"
#include "core/guard.h"
#include "net/Address.h"
#include "net/UdpServer.h"

#include <QtTest>

#include <sys/ioctl.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace bramblet;
using namespace bramblet::test;

namespace {

struct Datagram {
    QByteArray bytes;
    QString sourceIP;
    int sourcePort = 0;
};

// An endpoint bound to one free port on every interface that records what it gets.
struct RecordingEndpoint {
    TUDPServer udp;
    QList<Datagram> received;
    QStringList exceptions;
    int port = unusedPort(SOCK_DGRAM);

    RecordingEndpoint()
    {
        TUDPSocketHandle &b = udp.Bindings.Add();
        b.IP = "0.0.0.0";
        b.Port = port;
        udp.OnUDPRead = [this](QObject *, const TBytes &data, TUDPSocketHandle *binding) {
            received.append({QByteArray(reinterpret_cast<const char *>(data.data()), qsizetype(data.size())),
                             QString::fromStdString(binding->SourceIP), binding->SourcePort});
        };
        udp.OnUDPException = [this](QObject *, TUDPSocketHandle *, const std::string &message,
                                    const std::string &kind) {
            exceptions << QString::fromStdString(message) + QLatin1Char('|') + QString::fromStdString(kind);
        };
    }
};

// A plain datagram socket on 127.0.0.1 (or the address given) to send from.
PlainSocket plainDatagram(const char *address = "127.0.0.1", std::uint16_t port = 0)
{
    PlainSocket s(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(s.fd(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        s.close();
    return s;
}

bool sendTo(const PlainSocket &s, int port, const QByteArray &bytes)
{
    const sockaddr_in to = loopback(static_cast<std::uint16_t>(port));
    return ::sendto(s.fd(), bytes.constData(), std::size_t(bytes.size()), 0, reinterpret_cast<const sockaddr *>(&to),
                    sizeof to) == bytes.size();
}

QString raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const std::exception &e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

} // namespace

class TestUdpServer : public QObject {
    Q_OBJECT
private slots:
    void datagramSizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("four bytes") << 4 << true;
        QTest::newRow("zero length gives empty data") << 0 << true;
        QTest::newRow("exactly the buffer size") << 8192 << true;
        QTest::newRow("9000 bytes are lost as too long") << 9000 << false;
    }
    void datagramSizes()
    {
        QFETCH(int, size);
        QFETCH(bool, delivered);
        RecordingEndpoint e;
        e.udp.SetActive(true);
        PlainSocket sender = plainDatagram();
        QVERIFY(sendTo(sender, e.port, QByteArray(size, 'd')));
        QVERIFY(sendTo(sender, e.port, QByteArrayLiteral("next")));
        if (delivered) {
            QTRY_COMPARE(e.received.size(), 2);
            QCOMPARE(e.received[0].bytes, QByteArray(size, 'd'));
            QVERIFY(e.exceptions.isEmpty());
        } else {
            QTRY_COMPARE(e.received.size(), 1);
            QCOMPARE(e.exceptions, QStringList{QStringLiteral("Socket Error # 10040\r\nMessage too long.|ESocketError")});
        }
        QCOMPARE(e.received.last().bytes, QByteArrayLiteral("next"));
    }

    void sourceAddressAndPortAndReply()
    {
        RecordingEndpoint e;
        e.udp.OnUDPRead = [&e](QObject *, const TBytes &, TUDPSocketHandle *b) {
            e.received.append({{}, QString::fromStdString(b->SourceIP), b->SourcePort});
            e.udp.SendDatagram(b->SourceIP, b->SourcePort, TBytes{'o', 'k'});
        };
        e.udp.SetActive(true);
        const std::uint16_t peerPort = unusedPort(SOCK_DGRAM);
        PlainSocket peer = plainDatagram("127.0.0.2", peerPort);
        QVERIFY(peer.fd() >= 0);
        QVERIFY(sendTo(peer, e.port, QByteArrayLiteral("ping")));
        QTRY_COMPARE(e.received.size(), 1);
        QCOMPARE(e.received[0].sourceIP, QStringLiteral("127.0.0.2"));
        QCOMPARE(e.received[0].sourcePort, int(peerPort));
        char reply[8];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        pollfd p{peer.fd(), POLLIN, 0};
        QVERIFY(::poll(&p, 1, 5000) == 1);
        QCOMPARE(::recvfrom(peer.fd(), reply, sizeof reply, 0, reinterpret_cast<sockaddr *>(&from), &len), ssize_t(2));
        QCOMPARE(int(ntohs(from.sin_port)), e.port); // the reply leaves from the bound port
    }

    void bindFailures_data()
    {
        QTest::addColumn<int>("rangeMin");
        QTest::addColumn<int>("rangeMax");
        QTest::addColumn<QString>("message");
        QTest::newRow("port held by another program") << 0 << 0
                                                      << QStringLiteral("Could not bind socket. Address and port are already in use.");
        QTest::newRow("range upside down") << 5000 << 4000 << QStringLiteral("Invalid Port Range (5000 - 4000)");
        QTest::newRow("no port of the range free") << -1 << -1 << QStringLiteral("Can not bind in port range (%1 - %1)");
    }
    void bindFailures()
    {
        QFETCH(int, rangeMin);
        QFETCH(int, rangeMax);
        QFETCH(QString, message);
        PlainSocket holder = plainDatagram();
        const int held = holder.localPort();
        const int descriptors = openDescriptors();
        TUDPServer udp;
        TUDPSocketHandle &b = udp.Bindings.Add();
        if (rangeMin == -1) {
            rangeMin = rangeMax = held;
            message = message.arg(held);
        }
        b.Port = rangeMin == 0 ? held : 0;
        b.ClientPortMin = rangeMin;
        b.ClientPortMax = rangeMax;
        QCOMPARE(raisedBy([&] { udp.SetActive(true); }), message);
        QVERIFY(!udp.Active());
        QCOMPARE(udp.SendingBinding(), nullptr);
        QCOMPARE(openDescriptors(), descriptors);
    }

    void activationBindings()
    {
        TUDPServer udp;
        const int port = unusedPort(SOCK_DGRAM);
        udp.DefaultPort = port;
        udp.SetActive(true);
        QVERIFY(udp.Active());
        QCOMPARE(udp.Bindings.Count(), 1);
        QCOMPARE(udp.Bindings[0].IP, std::string("0.0.0.0"));
        QCOMPARE(udp.Bindings[0].Port, port);
        QCOMPARE(udp.SendingBinding(), &udp.Bindings[0]);
        udp.SetActive(false);
        QVERIFY(!udp.Active());
        QCOMPARE(udp.Bindings[0].Handle(), 0xFFFFFFFFu);
        udp.SetActive(true); // bindings survive; a new activation binds them again
        QVERIFY(udp.Active());
    }

    void sendingBindingFollowsTheLastReceiver()
    {
        TUDPServer udp;
        auto &first = udp.Bindings.Add();
        first.IP = "127.0.0.1";
        auto &second = udp.Bindings.Add();
        second.IP = "127.0.0.1";
        int reads = 0;
        udp.OnUDPRead = [&](QObject *, const TBytes &, TUDPSocketHandle *) { ++reads; };
        udp.SetActive(true);
        QCOMPARE(udp.SendingBinding(), &first);
        PlainSocket sender = plainDatagram();
        QVERIFY(sendTo(sender, second.Port, QByteArrayLiteral("2")));
        QTRY_COMPARE(reads, 1);
        QCOMPARE(udp.SendingBinding(), &second);
    }

    void threadedEventRunsOnTheListener()
    {
        TUDPServer udp;
        udp.ThreadedEvent = true;
        const int port = unusedPort(SOCK_DGRAM);
        udp.DefaultPort = port;
        std::atomic<bool> onListener{false};
        std::atomic<int> reads{0};
        const auto mainThread = std::this_thread::get_id();
        udp.OnUDPRead = [&](QObject *, const TBytes &, TUDPSocketHandle *) {
            onListener = std::this_thread::get_id() != mainThread;
            ++reads;
        };
        udp.SetActive(true);
        PlainSocket sender = plainDatagram();
        QVERIFY(sendTo(sender, port, QByteArrayLiteral("t")));
        QTRY_COMPARE(reads.load(), 1);
        QVERIFY(onListener);
        udp.SetActive(false);
    }

    void deactivationRunsAWaitingHandover()
    {
        const int descriptors = openDescriptors();
        RecordingEndpoint e;
        e.udp.SetActive(true);
        PlainSocket sender = plainDatagram();
        QVERIFY(sendTo(sender, e.port, QByteArrayLiteral("late")));
        // Without running the loop: wait until the listener has taken the datagram and is
        // waiting for the main thread.
        const int fd = int(e.udp.Bindings[0].Handle());
        int waiting = 1;
        for (int i = 0; i < 500 && waiting != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::ioctl(fd, FIONREAD, &waiting);
        }
        QCOMPARE(waiting, 0);
        QVERIFY(e.received.isEmpty());
        e.udp.SetActive(false);
        QCOMPARE(e.received.size(), 1);
        QCOMPARE(e.received[0].bytes, QByteArrayLiteral("late"));
        QVERIFY(!e.udp.Active());
        runLoopFor(50); // the queued handover request finds nothing left
        QCOMPARE(e.received.size(), 1);
        sender.close();
        QCOMPARE(openDescriptors(), descriptors);
    }

    void deactivationInsideTheReadHandler()
    {
        RecordingEndpoint e;
        std::size_t sizeAfter = 0;
        e.udp.OnUDPRead = [&](QObject *, const TBytes &data, TUDPSocketHandle *) {
            e.udp.SetActive(false);
            sizeAfter = data.size(); // still valid for the rest of the call
            e.received.append(Datagram{});
        };
        e.udp.SetActive(true);
        PlainSocket sender = plainDatagram();
        QVERIFY(sendTo(sender, e.port, QByteArrayLiteral("bye")));
        QTRY_COMPARE(e.received.size(), 1);
        QVERIFY(!e.udp.Active());
        QCOMPARE(sizeAfter, std::size_t(3));
    }

    void errorInReadHandlerIsShownNowhere_data()
    {
        QTest::addColumn<bool>("exceptionHandler");
        QTest::addColumn<bool>("failingSend");
        QTest::addColumn<QString>("reported");
        QTest::newRow("thrown, no exception handler") << false << false << QString();
        QTest::newRow("thrown, exception handler told") << true << false << QStringLiteral("bad datagram|Error");
        QTest::newRow("failing send inside the handler")
            << true << true << QStringLiteral("Socket Error # 10022\r\nInvalid argument.|ESocketError");
    }
    void errorInReadHandlerIsShownNowhere()
    {
        QFETCH(bool, exceptionHandler);
        QFETCH(bool, failingSend);
        QFETCH(QString, reported);
        QStringList shown;
        setErrorSink([&](const std::string &m) { shown << QString::fromStdString(m); });
        RecordingEndpoint e;
        if (!exceptionHandler)
            e.udp.OnUDPException = nullptr;
        e.udp.OnUDPRead = [&](QObject *, const TBytes &data, TUDPSocketHandle *) {
            e.received.append({QByteArray(reinterpret_cast<const char *>(data.data()), qsizetype(data.size())), {}, 0});
            if (e.received.size() == 1) {
                if (failingSend)
                    e.udp.SendDatagram("127.0.0.1", 70000, TBytes{1});
                throw Error("bad datagram");
            }
        };
        e.udp.SetActive(true);
        PlainSocket sender = plainDatagram();
        QVERIFY(sendTo(sender, e.port, QByteArrayLiteral("one")));
        QVERIFY(sendTo(sender, e.port, QByteArrayLiteral("two")));
        QTRY_COMPARE(e.received.size(), 2);
        QCOMPARE(e.received[1].bytes, QByteArrayLiteral("two"));
        setErrorSink({});
        QCOMPARE(shown, QStringList());
        QCOMPARE(e.exceptions, reported.isEmpty() ? QStringList() : QStringList{reported});
    }

    void literalHosts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("literal");
        QTest::newRow("localhost") << QStringLiteral("localhost") << QStringLiteral("127.0.0.1");
        QTest::newRow("localhost in capitals") << QStringLiteral("LOCALHOST") << QStringLiteral("127.0.0.1");
        QTest::newRow("mixed case") << QStringLiteral("LocalHost") << QStringLiteral("127.0.0.1");
        QTest::newRow("dotted quad unchanged") << QStringLiteral("10.0.0.2") << QStringLiteral("10.0.0.2");
        QTest::newRow("edges of the range") << QStringLiteral("0.255.0.255") << QStringLiteral("0.255.0.255");
        QTest::newRow("three parts are a name") << QStringLiteral("1.2.3") << QString();
        QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << QString();
        QTest::newRow("part above 255") << QStringLiteral("256.1.1.1") << QString();
        QTest::newRow("trailing space") << QStringLiteral("1.2.3.4 ") << QString();
        QTest::newRow("trailing dot") << QStringLiteral("1.2.3.4.") << QString();
        QTest::newRow("empty part") << QStringLiteral("1..3.4") << QString();
        QTest::newRow("sign") << QStringLiteral("+1.2.3.4") << QString();
        QTest::newRow("host name") << QStringLiteral("peer.example") << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void literalHosts()
    {
        QFETCH(QString, host);
        QFETCH(QString, literal);
        const auto got = literalDatagramHost(host.toStdString());
        QCOMPARE(got ? QString::fromStdString(*got) : QString(), literal);
    }

    void leadingZerosStayDecimal()
    {
        QCOMPARE(address::parseDecimalQuad("010.0.0.1", address::LeadingZeros::Decimal),
                 address::parseDecimalQuad("10.0.0.1", address::LeadingZeros::Decimal));
    }

    void sendDatagramHosts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("lookedUp");
        QTest::addColumn<QString>("raised");
        QTest::newRow("localhost needs no lookup") << QStringLiteral("localhost") << false << QString();
        QTest::newRow("dotted quad needs no lookup") << QStringLiteral("127.0.0.1") << false << QString();
        QTest::newRow("three parts are looked up") << QStringLiteral("1.2.3") << true << QString();
        QTest::newRow("unknown name") << QStringLiteral("nowhere") << true
                                      << QStringLiteral("Socket Error # 11001\r\nHost not found.");
    }
    void sendDatagramHosts()
    {
        QFETCH(QString, host);
        QFETCH(bool, lookedUp);
        QFETCH(QString, raised);
        PlainSocket receiver = plainDatagram();
        TUDPServer udp;
        QStringList lookups;
        udp.HostResolver = [&](const std::string &name, std::uint32_t &address) {
            lookups << QString::fromStdString(name);
            address = htonl(INADDR_LOOPBACK);
            return name != "nowhere";
        };
        QCOMPARE(raisedBy([&] { udp.SendDatagram(host.toStdString(), receiver.localPort(), TBytes{'h', 'i'}); }), raised);
        QCOMPARE(lookups, lookedUp ? QStringList{host} : QStringList());
        if (!raised.isEmpty())
            return;
        QVERIFY(udp.Active()); // sending activated the endpoint
        char buffer[4];
        QCOMPARE(receiver.receive(buffer, sizeof buffer), ssize_t(2));
    }

    void oversizedSendIsRefused()
    {
        PlainSocket receiver = plainDatagram();
        TUDPServer udp;
        const TBytes huge(70000, 0);
        QCOMPARE(raisedBy([&] { udp.SendDatagram("127.0.0.1", receiver.localPort(), huge); }),
                 QStringLiteral("Package Size Too Big."));
    }

    void errorCodes_data()
    {
        QTest::addColumn<int>("errnoValue");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("refused") << ECONNREFUSED << 10061 << QStringLiteral("Connection refused.");
        QTest::newRow("reset") << ECONNRESET << 10054 << QStringLiteral("Connection reset by peer.");
        QTest::newRow("in use") << EADDRINUSE << 10048 << QStringLiteral("Address already in use.");
        QTest::newRow("too long") << EMSGSIZE << 10040 << QStringLiteral("Message too long.");
        QTest::newRow("would block") << EWOULDBLOCK << 10035 << QStringLiteral("Operation would block.");
        QTest::newRow("no route") << EHOSTUNREACH << 10065 << QStringLiteral("No route to host.");
        QTest::newRow("not empty has no period") << ENOTEMPTY << 10066 << QStringLiteral("Directory not empty");
        QTest::newRow("unlisted keeps its value") << ENOENT << ENOENT << QString();
    }
    void errorCodes()
    {
        QFETCH(int, errnoValue);
        QFETCH(int, code);
        QFETCH(QString, text);
        QCOMPARE(winsockCode(errnoValue), code);
        const ESocketError e = udpSocketError(errnoValue);
        QCOMPARE(e.code(), code);
        QCOMPARE(QString::fromStdString(e.what()), QStringLiteral("Socket Error # %1\r\n%2").arg(code).arg(text));
    }

    void tcpMessageTexts()
    {
        QCOMPARE(windowsSocketErrorText(ECONNREFUSED, "connect"),
                 std::string("Windows socket error: Connection refused (111), on API 'connect'"));
        QCOMPARE(asyncSocketErrorText(10053), std::string("Asynchronous socket error 10053"));
    }

    void dottedQuadText_data()
    {
        QTest::addColumn<quint32>("hostOrder");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint32(0) << QStringLiteral("0.0.0.0");
        QTest::newRow("loopback") << quint32(0x7F000001) << QStringLiteral("127.0.0.1");
        QTest::newRow("all ones") << quint32(0xFFFFFFFF) << QStringLiteral("255.255.255.255");
    }
    void dottedQuadText()
    {
        QFETCH(quint32, hostOrder);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(dottedQuad(htonl(hostOrder))), text);
    }
};

QTEST_GUILESS_MAIN(TestUdpServer)
#include "tst_udpserver.moc"
