#include "LoopbackPeer.h"

#include "core/errors.h"
#include "core/guard.h"
#include "net/TcpSockets.h"

#include <QEventLoop>
#include <QtTest>

#include <fcntl.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace bramblet;
using namespace bramblet::test;

namespace {

QStringList &operator<<(QStringList &log, const char *entry)
{
    log.append(QString::fromLatin1(entry));
    return log;
}

// A listening TServerSocket on a free port that logs its events.
struct LoggedServer {
    TServerSocket server;
    QStringList log;
    std::vector<TCustomWinSocket *> accepted;
    std::vector<std::pair<TErrorEvent, int>> errors;
    std::uint16_t port = unusedPort();

    LoggedServer()
    {
        server.SetPort(port);
        server.OnClientConnect = [this](QObject *, TCustomWinSocket *s) {
            log << "ClientConnect";
            accepted.push_back(s);
        };
        server.OnAccept = [this](QObject *, TCustomWinSocket *) { log << "Accept"; };
        server.OnClientWrite = [this](QObject *, TCustomWinSocket *) { log << "ClientWrite"; };
        server.OnClientDisconnect = [this](QObject *, TCustomWinSocket *) { log << "ClientDisconnect"; };
        server.OnClientError = [this](QObject *, TCustomWinSocket *, TErrorEvent &kind, int &code) {
            log << "ClientError";
            errors.emplace_back(kind, code);
            code = 0;
        };
        server.SetActive(true);
    }
    // Connects a plain peer and waits until the connection's first write event.
    PlainSocket connectPeer()
    {
        const int before = int(log.count(QStringLiteral("ClientWrite")));
        PlainSocket peer = plainConnect(port);
        if (!QTest::qWaitFor([&] { return log.count(QStringLiteral("ClientWrite")) > before; }, 5000))
            qWarning("no write event after accept");
        return peer;
    }
};

// Records the errors that would reach the error box.
struct SinkRecorder {
    QStringList seen;
    SinkRecorder()
    {
        setErrorSink([this](const std::string &m) { seen << QString::fromStdString(m); });
    }
    ~SinkRecorder() { setErrorSink({}); }
};

bool handleIsOpen(std::uint32_t handle)
{
    return handle != invalidSocketHandle && ::fcntl(static_cast<int>(handle), F_GETFD) != -1;
}

} // namespace

class TestTcpSockets : public QObject {
    Q_OBJECT
private slots:
    void receiveCounts_data()
    {
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QList<int>>("received");
        QTest::newRow("fewer waiting than asked gives what waits") << 8 << 36 << QList<int>{8};
        QTest::newRow("more waiting fires again for the rest") << 100 << 36 << QList<int>{36, 36, 28};
        QTest::newRow("exactly the size asked") << 36 << 36 << QList<int>{36};
        QTest::newRow("player channel reads of 1000") << 2500 << 1000 << QList<int>{1000, 1000, 500};
    }
    void receiveCounts()
    {
        QFETCH(int, sent);
        QFETCH(int, asked);
        QFETCH(QList<int>, received);
        LoggedServer s;
        QList<int> got;
        int total = 0;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            char buffer[1001];
            const int n = c->ReceiveBytes(buffer, asked);
            got << n;
            total += std::max(n, 0);
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send(std::string(static_cast<std::size_t>(sent), 'x')));
        QTRY_COMPARE(total, sent);
        runLoopFor(100);
        QCOMPARE(got, received);
    }

    void handlerThatDoesNotReadDoesNotSpin_data()
    {
        QTest::addColumn<int>("asked");
        QTest::newRow("no receive call") << -1;
        QTest::newRow("receive of zero bytes") << 0;
    }
    void handlerThatDoesNotReadDoesNotSpin()
    {
        QFETCH(int, asked);
        LoggedServer s;
        int events = 0;
        int total = 0;
        bool reading = false;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            ++events;
            char buffer[64];
            if (reading)
                total += c->ReceiveBytes(buffer, 64);
            else if (asked >= 0)
                QCOMPARE(c->ReceiveBytes(buffer, asked), 0);
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send("0123456789"));
        QTRY_COMPARE(events, 1);
        QVERIFY(notifierActivations({s.accepted.at(0)}, 300) <= 1);
        QCOMPARE(events, 1);
        QVERIFY(peer.send("abcde")); // more data: one more event
        QTRY_COMPARE(events, 2);
        runLoopFor(150);
        QCOMPARE(events, 2);
        reading = true;
        QVERIFY(peer.send("!"));
        QTRY_COMPARE(total, 16);
    }

    void nestedLoopInReadHandlerGetsNoReadEventBeforeItReceives()
    {
        LoggedServer s;
        int depth = 0;
        int maxDepth = 0;
        int total = 0;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            maxDepth = std::max(maxDepth, ++depth);
            if (depth == 1) { // a modal box before the read
                QEventLoop modal;
                QTimer::singleShot(200, &modal, &QEventLoop::quit);
                modal.exec();
            }
            char buffer[8];
            total += c->ReceiveBytes(buffer, 8);
            --depth;
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send("0123456789"));
        QTRY_COMPARE(total, 10);
        QCOMPARE(maxDepth, 1);
    }

    void idleConnectedPairStaysQuiet()
    {
        LoggedServer s;
        TClientSocket client;
        int writes = 0;
        client.OnWrite = [&](QObject *, TCustomWinSocket *) { ++writes; };
        client.SetAddress("127.0.0.1");
        client.SetPort(s.port);
        client.SetActive(true);
        QTRY_VERIFY(client.Active());
        QTRY_COMPARE(writes, 1);
        QTRY_COMPARE(s.log.count(QStringLiteral("ClientWrite")), 1);
        // A spinning write notifier fires thousands of times a second.
        const int fired = notifierActivations({client.Socket(), s.server.Socket(), s.accepted.at(0)}, 1000);
        QVERIFY2(fired <= 3, qPrintable(QStringLiteral("%1 activations while idle").arg(fired)));
        QCOMPARE(writes, 1);
    }

    void refusedConnectReportsOnlyTheError()
    {
        const int descriptors = openDescriptors();
        TClientSocket client;
        QStringList log;
        int lastCode = 0;
        TErrorEvent lastKind = eeGeneral;
        client.OnLookup = [&](QObject *, TCustomWinSocket *) { log << "Lookup"; };
        client.OnConnecting = [&](QObject *, TCustomWinSocket *) { log << "Connecting"; };
        client.OnConnect = [&](QObject *, TCustomWinSocket *) { log << "Connect"; };
        client.OnDisconnect = [&](QObject *, TCustomWinSocket *) { log << "Disconnect"; };
        client.OnError = [&](QObject *, TCustomWinSocket *s, TErrorEvent &kind, int &code) {
            log << "Error";
            QVERIFY(handleIsOpen(s->OsHandle()));
            lastKind = kind;
            lastCode = code;
            code = 0;
        };
        client.SetAddress("127.0.0.1");
        client.SetPort(unusedPort());
        for (int attempt = 1; attempt <= 2; ++attempt) { // a second activation is a fresh attempt
            client.SetActive(true);
            QCOMPARE(log.mid(3 * (attempt - 1)), (QStringList{QStringLiteral("Lookup"), QStringLiteral("Connecting")}));
            QVERIFY(!client.Active());
            QTRY_COMPARE(log.size(), 3 * attempt);
            QCOMPARE(log.last(), QStringLiteral("Error"));
            QCOMPARE(lastKind, eeConnect);
            QCOMPARE(lastCode, ECONNREFUSED);
            QVERIFY(!client.Active());
            QCOMPARE(client.Socket()->OsHandle(), invalidSocketHandle);
        }
        runLoopFor(100);
        QCOMPARE(log.size(), 6);
        QCOMPARE(openDescriptors(), descriptors);
    }

    void unhandledErrorsReachTheEventLoopBox_data()
    {
        QTest::addColumn<bool>("assignHandler");
        QTest::newRow("no handler") << false;
        QTest::newRow("handler leaves the code") << true;
    }
    void unhandledErrorsReachTheEventLoopBox()
    {
        QFETCH(bool, assignHandler);
        SinkRecorder sink;
        TClientSocket client;
        if (assignHandler)
            client.OnError = [](QObject *, TCustomWinSocket *, TErrorEvent &, int &) {};
        client.SetAddress("127.0.0.1");
        client.SetPort(unusedPort());
        client.SetActive(true);
        QTRY_COMPARE(sink.seen, QStringList{QStringLiteral("Asynchronous socket error %1").arg(ECONNREFUSED)});
    }

    void replacedAttemptLeavesOneConnection()
    {
        PlainSocket listener = plainListen();
        const int descriptors = openDescriptors();
        {
            TClientSocket client;
            int connects = 0;
            client.OnConnect = [&](QObject *, TCustomWinSocket *) { ++connects; };
            client.SetAddress("127.0.0.1");
            client.SetPort(listener.localPort());
            client.SetActive(true);
            const std::uint32_t first = client.Socket()->OsHandle();
            client.SetActive(true); // before the first attempt completed
            QVERIFY(client.Socket()->OsHandle() != invalidSocketHandle);
            QVERIFY(!handleIsOpen(first) || client.Socket()->OsHandle() == first);
            QTRY_VERIFY(client.Active());
            runLoopFor(100);
            QCOMPARE(connects, 1);
            QCOMPARE(openDescriptors(), descriptors + 1);
        }
        QCOMPARE(openDescriptors(), descriptors);
    }

    void emptyAddress_data()
    {
        QTest::addColumn<bool>("handled");
        QTest::newRow("handler clears the code") << true;
        QTest::newRow("code left raises") << false;
    }
    void emptyAddress()
    {
        QFETCH(bool, handled);
        const int descriptors = openDescriptors();
        TClientSocket client;
        std::vector<std::pair<TErrorEvent, int>> errors;
        client.OnError = [&](QObject *, TCustomWinSocket *, TErrorEvent &kind, int &code) {
            errors.emplace_back(kind, code);
            if (handled)
                code = 0;
        };
        client.SetPort(9);
        QString raised;
        try {
            client.SetActive(true);
        } catch (const ESocketError &e) {
            raised = QString::fromStdString(e.what());
        }
        QCOMPARE(raised, handled ? QString() : QStringLiteral("No address specified"));
        QCOMPARE(errors.size(), std::size_t(1));
        QCOMPARE(errors[0].first, eeLookup);
        QCOMPARE(errors[0].second, 1110);
        QVERIFY(!client.Active());
        QCOMPARE(openDescriptors(), descriptors);
    }

    void propertiesWhileActive_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("portDelta");
        QTest::addColumn<bool>("raises");
        // The connection is made to "0x7f000001" (127.0.0.1 for the dotted-quad parser).
        QTest::newRow("same address in other letter case") << QStringLiteral("0X7F000001") << 0 << false;
        QTest::newRow("other address") << QStringLiteral("127.0.0.2") << 0 << true;
        QTest::newRow("same port") << QStringLiteral("0x7f000001") << 0 << false;
        QTest::newRow("other port") << QStringLiteral("0x7f000001") << 1 << true;
    }
    void propertiesWhileActive()
    {
        QFETCH(QString, address);
        QFETCH(int, portDelta);
        QFETCH(bool, raises);
        PlainSocket listener = plainListen();
        TClientSocket client;
        client.SetAddress("10.0.0.1");
        client.SetAddress("0x7f000001"); // inactive: any change is fine
        client.SetPort(listener.localPort());
        client.SetActive(true);
        QTRY_VERIFY(client.Active());
        QString raised;
        try {
            client.SetAddress(address.toStdString());
            client.SetPort(static_cast<std::uint16_t>(client.Port() + portDelta));
        } catch (const ESocketError &e) {
            raised = QString::fromStdString(e.what());
        }
        QCOMPARE(raised, raises ? QStringLiteral("Can't change value while socket is active") : QString());
        QCOMPARE(client.Address(), std::string("0x7f000001"));
    }

    void serverPortWhileListening()
    {
        LoggedServer s;
        s.server.SetPort(s.port); // same value: no change
        QVERIFY_THROWS_EXCEPTION(ESocketError, s.server.SetPort(static_cast<std::uint16_t>(s.port + 1)));
        s.server.SetActive(true); // already listening: nothing happens
        QVERIFY(s.server.Active());
    }

    void bindConflictNamesTheCall()
    {
        const int descriptors = openDescriptors();
        PlainSocket holder = plainListen();
        TServerSocket server;
        server.SetPort(holder.localPort());
        QString raised;
        try {
            server.SetActive(true);
        } catch (const ESocketError &e) {
            raised = QString::fromStdString(e.what());
            QCOMPARE(e.code(), EADDRINUSE);
        }
        QCOMPARE(raised, QStringLiteral("Windows socket error: Address already in use (98), on API 'bind'"));
        QVERIFY(!server.Active());
        QCOMPARE(openDescriptors(), descriptors + 1);
        holder.close();
        server.SetActive(true); // a later activation tries again
        QVERIFY(server.Active());
        server.SetActive(false);
        QCOMPARE(openDescriptors(), descriptors);
    }

    void eventOrders()
    {
        LoggedServer s;
        TClientSocket client;
        QStringList clientLog;
        client.OnLookup = [&](QObject *, TCustomWinSocket *) { clientLog << "Lookup"; };
        client.OnConnecting = [&](QObject *, TCustomWinSocket *) { clientLog << "Connecting"; };
        client.OnConnect = [&](QObject *sender, TCustomWinSocket *sock) {
            QCOMPARE(sender, &client);
            QCOMPARE(sock, client.Socket());
            QVERIFY(client.Active());
            clientLog << "Connect";
        };
        client.OnWrite = [&](QObject *, TCustomWinSocket *) { clientLog << "Write"; };
        s.server.OnAccept = [&](QObject *sender, TCustomWinSocket *sock) {
            QCOMPARE(sender, &s.server);
            QCOMPARE(sock, s.accepted.back());
            QCOMPARE(sock->UserWord, 1);
            s.log << "Accept";
        };
        s.server.OnClientConnect = [&](QObject *sender, TCustomWinSocket *sock) {
            QCOMPARE(sender, s.server.Socket());
            QVERIFY(sock->Connected());
            s.accepted.push_back(sock);
            s.log << "ClientConnect";
        };
        client.SetAddress("127.0.0.1");
        client.SetPort(s.port);
        client.SetActive(true);
        QTRY_COMPARE(clientLog, (QStringList{QStringLiteral("Lookup"), QStringLiteral("Connecting"),
                                             QStringLiteral("Connect"), QStringLiteral("Write")}));
        QTRY_COMPARE(s.log, (QStringList{QStringLiteral("ClientConnect"), QStringLiteral("Accept"),
                                         QStringLiteral("ClientWrite")}));
    }

    void peerCloseFiresDisconnectWithOpenHandle()
    {
        LoggedServer s;
        std::uint32_t inside = invalidSocketHandle;
        bool listedInside = false;
        std::int32_t *word = nullptr;
        s.server.OnClientDisconnect = [&](QObject *, TCustomWinSocket *c) {
            inside = c->OsHandle();
            QVERIFY(handleIsOpen(inside));
            listedInside = s.server.Socket()->ActiveConnections() == 1;
            word = &c->UserWord;
        };
        PlainSocket peer = s.connectPeer();
        TCustomWinSocket *c = s.accepted.at(0);
        const std::uint32_t handle = c->OsHandle();
        std::int32_t *wordAtAccept = &c->UserWord;
        peer.close();
        QTRY_COMPARE(inside, handle);
        QVERIFY(listedInside);
        QCOMPARE(word, wordAtAccept);
        QTRY_COMPARE(s.server.Socket()->ActiveConnections(), 0);
    }

    void closeInsideReadHandler()
    {
        LoggedServer s;
        bool disconnectedBeforeReturn = false;
        QString endpointAfter;
        int receiveAfter = -5, sendAfter = -5;
        std::uint32_t handleAfter = 0;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            char buffer[8];
            c->ReceiveBytes(buffer, 8); // unread data would turn the close into a reset
            c->CloseConnection();
            disconnectedBeforeReturn = s.log.contains(QStringLiteral("ClientDisconnect"));
            receiveAfter = c->ReceiveBytes(buffer, 8);
            sendAfter = c->SendBytes("x", 1);
            handleAfter = c->OsHandle();
            endpointAfter = QString::fromStdString(dottedQuad(c->RemoteEndpoint()));
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send("hello"));
        QTRY_VERIFY(disconnectedBeforeReturn);
        QCOMPARE(receiveAfter, 0);
        QCOMPARE(sendAfter, 0);
        QCOMPARE(handleAfter, invalidSocketHandle);
        QCOMPARE(endpointAfter, QStringLiteral("0.0.0.0"));
        char buffer[8];
        QCOMPARE(peer.receive(buffer, sizeof buffer), ssize_t(0)); // the peer sees the close
        QTRY_COMPARE(s.server.Socket()->ActiveConnections(), 0);
    }

    void remoteEndpointIsThePeer()
    {
        LoggedServer s;
        QString address;
        int port = 0;
        s.server.OnAccept = [&](QObject *, TCustomWinSocket *c) {
            const TSockAddrIn peer = c->RemoteEndpoint();
            address = QString::fromStdString(dottedQuad(peer));
            port = portOf(peer);
        };
        PlainSocket peer = s.connectPeer();
        QCOMPARE(address, QStringLiteral("127.0.0.1"));
        QCOMPARE(port, int(peer.localPort()));
    }

    void resetByPeer_data()
    {
        QTest::addColumn<bool>("serverSide");
        QTest::newRow("accepted connection") << true;
        QTest::newRow("client connection") << false;
    }
    void resetByPeer()
    {
        QFETCH(bool, serverSide);
        if (serverSide) {
            LoggedServer s;
            PlainSocket peer = s.connectPeer();
            peer.reset();
            QTRY_COMPARE(s.errors.size(), std::size_t(1));
            QCOMPARE(s.errors[0], std::make_pair(eeDisconnect, ECONNRESET));
            QVERIFY(!s.log.contains(QStringLiteral("ClientDisconnect")));
            QCOMPARE(s.server.Socket()->ActiveConnections(), 1);
            QVERIFY(s.accepted.at(0)->Connected());
            QVERIFY(notifierActivations({s.accepted.at(0)}, 300) <= 1);
            return;
        }
        PlainSocket listener = plainListen();
        TClientSocket client;
        std::vector<std::pair<TErrorEvent, int>> errors;
        bool disconnected = false;
        client.OnError = [&](QObject *, TCustomWinSocket *, TErrorEvent &kind, int &code) {
            errors.emplace_back(kind, code);
            code = 0;
        };
        client.OnDisconnect = [&](QObject *, TCustomWinSocket *) { disconnected = true; };
        client.SetAddress("127.0.0.1");
        client.SetPort(listener.localPort());
        client.SetActive(true);
        PlainSocket peer = plainAccept(listener);
        QTRY_VERIFY(client.Active());
        peer.reset();
        QTRY_COMPARE(errors.size(), std::size_t(1));
        QCOMPARE(errors[0], std::make_pair(eeDisconnect, ECONNRESET));
        QVERIFY(!disconnected);
        QVERIFY(client.Active());
    }

    // A box in the disconnect event runs a nested loop; the closed socket stays readable, so
    // the read notifier must be off by then.
    void nestedLoopInDisconnectHandlerDoesNotSpin_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("accepted connection, the peer closes") << 0;
        QTest::newRow("client connection, the peer closes") << 1;
        QTest::newRow("CloseConnection after the peer closed") << 2;
    }
    void nestedLoopInDisconnectHandlerDoesNotSpin()
    {
        QFETCH(int, how);
        int fired = -1;
        auto modalBox = [&fired](QObject *, TCustomWinSocket *c) { fired = notifierActivations({c}, 300); };
        LoggedServer s;
        PlainSocket listener = plainListen();
        TClientSocket client;
        PlainSocket peer;
        if (how == 1) {
            client.OnDisconnect = modalBox;
            client.SetAddress("127.0.0.1");
            client.SetPort(listener.localPort());
            client.SetActive(true);
            peer = plainAccept(listener);
            QTRY_VERIFY(client.Active());
        } else {
            s.server.OnClientDisconnect = modalBox;
            if (how == 2)
                s.server.OnClientRead = [](QObject *, TCustomWinSocket *c) {
                    char buffer[8];
                    c->ReceiveBytes(buffer, 8);
                    c->CloseConnection();
                };
            peer = s.connectPeer();
            QVERIFY(how != 2 || peer.send("x"));
        }
        peer.close();
        QTRY_VERIFY(fired >= 0);
        QVERIFY2(fired <= 2, qPrintable(QStringLiteral("%1 activations inside the handler").arg(fired)));
    }

    void throwingOnConnectingNeverConnects()
    {
        PlainSocket listener = plainListen();
        TClientSocket client;
        bool refuse = true;
        int connects = 0;
        client.OnConnecting = [&](QObject *, TCustomWinSocket *) {
            if (refuse)
                throw Error("not now");
        };
        client.OnConnect = [&](QObject *, TCustomWinSocket *) { ++connects; };
        client.SetAddress("127.0.0.1");
        client.SetPort(listener.localPort());
        QVERIFY_THROWS_EXCEPTION(Error, client.SetActive(true));
        runLoopFor(300);
        QCOMPARE(connects, 0);
        QVERIFY(!client.Active());
        QCOMPARE(client.Socket()->OsHandle(), invalidSocketHandle);
        refuse = false;
        client.SetActive(true);
        QTRY_COMPARE(connects, 1);
    }

    void deactivationDestroysOpenConnectionsNewestFirst()
    {
        const int descriptors = openDescriptors();
        LoggedServer s;
        PlainSocket first = s.connectPeer();
        PlainSocket second = s.connectPeer();
        QCOMPARE(s.server.Socket()->ActiveConnections(), 2);
        QList<QObject *> destroyed;
        for (TCustomWinSocket *c : s.accepted)
            connect(c, &QObject::destroyed, this, [&destroyed](QObject *o) { destroyed << o; });
        const QList<QObject *> expected{s.accepted[1], s.accepted[0]};
        s.server.SetActive(false);
        QCOMPARE(destroyed, expected);
        QVERIFY(!s.server.Active());
        QVERIFY(!s.log.contains(QStringLiteral("ClientDisconnect")));
        char buffer[8];
        QCOMPARE(first.receive(buffer, sizeof buffer), ssize_t(0));
        QCOMPARE(second.receive(buffer, sizeof buffer), ssize_t(0));
        first.close();
        second.close();
        QCOMPARE(openDescriptors(), descriptors);
    }

    void deactivationWithReleasePending()
    {
        LoggedServer s;
        PlainSocket first = s.connectPeer();
        PlainSocket second = s.connectPeer();
        int destroyed = 0;
        for (TCustomWinSocket *c : s.accepted)
            connect(c, &QObject::destroyed, this, [&destroyed] { ++destroyed; });
        s.accepted[0]->CloseConnection(); // queues its release
        QCOMPARE(s.server.Socket()->ActiveConnections(), 2);
        s.server.SetActive(false);
        QCOMPARE(destroyed, 2);
        s.server.SetActive(true); // the dropped release must not touch the new run
        PlainSocket third = s.connectPeer();
        runLoopFor(100);
        QCOMPARE(s.server.Socket()->ActiveConnections(), 1);
    }

    void releaseWaitsForTheHandlerToReturn()
    {
        LoggedServer s;
        bool destroyedInHandler = false;
        bool destroyed = false;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            connect(c, &QObject::destroyed, this, [&destroyed] { destroyed = true; });
            c->CloseConnection();
            QEventLoop modal; // a message box after the close
            QTimer::singleShot(150, &modal, &QEventLoop::quit);
            modal.exec();
            destroyedInHandler = destroyed;
            c->UserWord = 7; // still a valid object
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send("r"));
        QTRY_VERIFY(destroyed);
        QVERIFY(!destroyedInHandler);
        QCOMPARE(s.server.Socket()->ActiveConnections(), 0);
    }

    void releaseRunsInsideAModalLoopOfAnotherHandler()
    {
        LoggedServer s;
        PlainSocket first = s.connectPeer();
        PlainSocket second = s.connectPeer();
        TCustomWinSocket *closed = s.accepted.at(0);
        bool destroyedInsideModal = false;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            char buffer[8];
            c->ReceiveBytes(buffer, 8);
            closed->CloseConnection(); // its release is queued from here
            QEventLoop modal;
            connect(closed, &QObject::destroyed, &modal, [&] {
                destroyedInsideModal = true;
                modal.quit();
            });
            QTimer::singleShot(5000, &modal, &QEventLoop::quit);
            modal.exec();
        };
        QVERIFY(second.send("m"));
        QTRY_VERIFY(destroyedInsideModal);
        QCOMPARE(s.server.Socket()->ActiveConnections(), 1);
    }

    void deactivationInsideOwnHandler()
    {
        LoggedServer s;
        std::uint32_t handleAfter = 0;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            s.server.SetActive(false);
            handleAfter = c->OsHandle();
            c->UserWord = 2;
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send("stop"));
        QTRY_VERIFY(!s.server.Active());
        QCOMPARE(handleAfter, invalidSocketHandle);
        QVERIFY(!s.log.contains(QStringLiteral("ClientDisconnect")));
    }

    void writeEventRearmedOnlyAfterBlockedSend()
    {
        PlainSocket listener = plainListen();
        TClientSocket client;
        int writes = 0;
        client.OnWrite = [&](QObject *, TCustomWinSocket *) { ++writes; };
        client.SetAddress("127.0.0.1");
        client.SetPort(listener.localPort());
        client.SetActive(true);
        PlainSocket peer = plainAccept(listener);
        QTRY_COMPARE(writes, 1);
        const std::string chunk(65536, 'w');
        int result = 0;
        for (int i = 0; i < 2000 && result >= 0; ++i)
            result = client.Socket()->SendBytes(chunk.data(), int(chunk.size()));
        QCOMPARE(result, -1);
        QCOMPARE(writes, 1);
        std::vector<char> sink(1 << 20);
        for (int i = 0; i < 10000 && writes == 1; ++i) {
            peer.receive(sink.data(), sink.size(), 10);
            QCoreApplication::processEvents();
        }
        QCOMPARE(writes, 2);
        runLoopFor(100);
        QCOMPARE(writes, 2);
    }

    void errorInHandlerIsReportedAndLoopGoesOn()
    {
        SinkRecorder sink;
        LoggedServer s;
        int reads = 0;
        s.server.OnClientRead = [&](QObject *, TCustomWinSocket *c) {
            char buffer[4];
            c->ReceiveBytes(buffer, 4);
            if (++reads == 1)
                throw Error("handler failed");
        };
        PlainSocket peer = s.connectPeer();
        QVERIFY(peer.send("a"));
        QTRY_COMPARE(sink.seen, QStringList{QStringLiteral("handler failed")});
        QVERIFY(peer.send("b"));
        QTRY_COMPARE(reads, 2);
    }
};

QTEST_GUILESS_MAIN(TestTcpSockets)
#include "tst_tcpsockets.moc"
