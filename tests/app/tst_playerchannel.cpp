// The main window's player channel over real loopback connections: what reaches the
// companion library for each way a stream may arrive and a connection may end.
#include "core/playerchannel.h"
#include "external/companion.h"
#include "net/LoopbackPeer.h"
#include "support/ChannelWire.h"
#include "support/MainWindowRig.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/ioctl.h>

using namespace bramblet;
using namespace bramblet::test;
using bramblet::test::kWireKey;

namespace {

struct Call {
    bool reset = false;
    std::uint32_t socket = 0;
    bool socketOpen = false; // the handle named an open descriptor when the call came
    QByteArray record; // MessageE: the bytes at the record address, 24 + length
    std::uint16_t length = 0;
    std::uint32_t *userWord = nullptr;
    std::uint32_t userWordValue = 0;
};

bool isOpen(std::uint32_t handle)
{
    return ::fcntl(static_cast<int>(handle), F_GETFD) != -1;
}

// Records the calls; like the library it counts records in the connection's word.
class RecordingCompanion : public external::ICompanionLibrary {
public:
    void MessageF(const char *, std::uint16_t, const char *, std::uint16_t) override { }
    void MessageE(
        std::uint32_t socket, const unsigned char *record, std::uint16_t length, std::uint32_t *userWord) override
    {
        calls.append(Call { false, socket, isOpen(socket),
            QByteArray(reinterpret_cast<const char *>(record), 24 + length), length, userWord, *userWord });
        ++*userWord;
    }
    void ResetPlayer(std::uint32_t socket) override
    {
        calls.append(Call { true, socket, isOpen(socket), {}, 0, nullptr, 0 });
    }
    QList<Call> calls;
};

// A record as the library must see it: header (flag, command, length high byte first,
// 20 further bytes) and payload.
QByteArray plain(std::uint8_t flag, std::uint8_t command, int payloadSize, char seed = 1)
{
    QByteArray r(24 + payloadSize, '\0');
    r[0] = static_cast<char>(flag);
    r[1] = static_cast<char>(command);
    r[2] = static_cast<char>(payloadSize >> 8);
    r[3] = static_cast<char>(payloadSize & 0xFF);
    for (int i = 4; i < r.size(); ++i)
        r[i] = static_cast<char>(seed + i * 13);
    return r;
}

QByteArray wire(const QList<QByteArray> &records)
{
    QByteArray out;
    for (const QByteArray &r : records)
        for (int i = 0; i < r.size(); ++i)
            out += static_cast<char>(r[i] ^ static_cast<char>(kWireKey[static_cast<std::size_t>(i % 4)]));
    return out;
}

QStringList strings(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *s : items)
        out << QString::fromLatin1(s);
    return out;
}

int waiting(std::uint32_t handle)
{
    int n = 0;
    return ::ioctl(static_cast<int>(handle), FIONREAD, &n) == 0 ? n : 0;
}

// The peer has seen the connection end (orderly close or reset), without blocking the loop.
bool sawEnd(const PlainSocket &peer)
{
    char b[64];
    const ssize_t n = ::recv(peer.fd(), b, sizeof b, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

} // namespace

class TestPlayerChannel : public QObject {
    Q_OBJECT

    RecordingCompanion library_;
    MainWindowRig rig_;
    RecordingMessages &messages_ = rig_.messages;
    std::unique_ptr<TBrambletMainForm> &form_ = rig_.form;
    std::uint16_t port_ = 0;

    TServerWinSocket *server() const { return form_->ServerSocket1->Socket(); }

    // A peer of the channel and its accepted connection.
    struct Player {
        PlainSocket peer;
        TCustomWinSocket *connection = nullptr;
        std::uint32_t handle = invalidSocketHandle;
        std::uint32_t *userWord = nullptr;
    };
    bool connectPlayer(Player &p)
    {
        const int before = server()->ActiveConnections();
        p.peer = plainConnect(port_);
        if (p.peer.fd() < 0)
            return false;
        if (!QTest::qWaitFor([&] { return server()->ActiveConnections() == before + 1; }, 5000))
            return false;
        p.connection = server()->ClientConnections().back();
        p.handle = p.connection->OsHandle();
        p.userWord = reinterpret_cast<std::uint32_t *>(&p.connection->UserWord);
        return true;
    }
    // Sends and lets the channel read all of it before anything else is sent.
    bool sendAll(const Player &p, const QByteArray &bytes)
    {
        if (!p.peer.send(bytes.toStdString()))
            return false;
        return QTest::qWaitFor([&] { return waiting(p.handle) == 0; }, 5000);
    }

    void checkMessage(const Call &c, const Player &p, const QByteArray &record)
    {
        QVERIFY(!c.reset);
        QCOMPARE(c.socket, p.handle);
        QVERIFY(c.socketOpen);
        QCOMPARE(c.length, static_cast<std::uint16_t>(record.size() - 24));
        QCOMPARE(c.record, record);
        QCOMPARE(c.userWord, p.userWord);
    }
    void checkReset(const Call &c, const Player &p)
    {
        QVERIFY(c.reset);
        QCOMPARE(c.socket, p.handle);
        QVERIFY(c.socketOpen);
    }
    // expected: "A0" MessageE of A's record 0 on A, "BR" ResetPlayer on B, in this order.
    void checkCalls(const QStringList &expected, const Player *players, const QList<QByteArray> *records)
    {
        QTRY_COMPARE_WITH_TIMEOUT(library_.calls.size(), expected.size(), 5000);
        std::uint32_t nextWord[2] = { 1, 1 };
        for (int i = 0; i < expected.size(); ++i) {
            const int who = expected[i][0] == u'A' ? 0 : 1;
            const Call &c = library_.calls[i];
            if (expected[i][1] == u'R') {
                checkReset(c, players[who]);
            } else {
                checkMessage(c, players[who], records[who][expected[i].mid(1).toInt()]);
                // The word is the connection's own: what the library wrote is there next time.
                QCOMPARE(c.userWordValue, nextWord[who]++);
            }
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("call %1 (%2)").arg(i).arg(expected[i])));
        }
    }
    // A new connection starts from nothing, whatever address its object gets: its record
    // is the library's call `at`.
    void checkNewConnection(int at, const QByteArray &record)
    {
        Player next;
        QVERIFY(connectPlayer(next));
        QVERIFY(sendAll(next, wire({ record })));
        QTRY_COMPARE_WITH_TIMEOUT(library_.calls.size(), at + 1, 5000);
        checkMessage(library_.calls[at], next, record);
    }

private slots:
    void init()
    {
        messages_.boxes.clear();
        library_.calls.clear();
        port_ = unusedPort();
        rig_.services.companion = &library_;
        rig_.services.playerChannelPort = port_;
        rig_.make();
        QVERIFY(!form_->ServerSocket1->Active());
        form_->ActivatePlayerChannel();
        QVERIFY(form_->ServerSocket1->Active());
    }
    void cleanup()
    {
        form_.reset();
        // Nothing of the channel is ever shown to the user.
        QCOMPARE(messages_.texts(), QStringList());
    }

    void listener()
    {
        QCOMPARE(MainFormServices {}.playerChannelPort, std::uint16_t { 11881 });
        QCOMPARE(form_->ServerSocket1->Port(), port_);
        sockaddr_in bound {};
        socklen_t len = sizeof bound;
        QCOMPARE(::getsockname(static_cast<int>(server()->OsHandle()), reinterpret_cast<sockaddr *>(&bound), &len), 0);
        QCOMPARE(bound.sin_addr.s_addr, htonl(INADDR_ANY));
        QCOMPARE(ntohs(bound.sin_port), port_);
        form_->DeactivatePlayerChannel();
        QVERIFY(!form_->ServerSocket1->Active());
    }

    // records: the stream as the library must see it; cuts: where the sends are split;
    // expected: as checkCalls() takes it, the connection being A.
    void oneConnection_data()
    {
        QTest::addColumn<QList<QByteArray>>("records");
        QTest::addColumn<QList<int>>("cuts");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("closes");
        const QByteArray small = plain(1, 7, 10);
        const QByteArray other = plain(2, 9, 300, 5);
        const QByteArray reset = plain(0, 3, 0);
        const auto e = strings;
        QTest::newRow("one record") << QList { small } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("split inside the length field") << QList { small } << QList { 3 } << e({ "A0" }) << false;
        QTest::newRow("split after the header") << QList { small } << QList { 24 } << e({ "A0" }) << false;
        QTest::newRow("split inside the payload") << QList { other } << QList { 100, 200 } << e({ "A0" }) << false;
        QList<int> everyByte;
        for (int i = 1; i < small.size(); ++i)
            everyByte << i;
        QTest::newRow("one byte per read") << QList { small } << everyByte << e({ "A0" }) << false;
        QTest::newRow("two records in one read, in order")
            << QList { small, other } << QList<int> {} << e({ "A0", "A1" }) << false;
        QTest::newRow("second record split over the next read")
            << QList { small, other, small } << QList { 40, 400 } << e({ "A0", "A1", "A2" }) << false;
        QTest::newRow("zero-length payload") << QList { plain(5, 5, 0) } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("record ending at byte 1000")
            << QList { plain(1, 1, 976) } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("record of 1001 bytes") << QList { plain(1, 1, 977) } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("largest record") << QList { plain(4, 2, 65535, 9) } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("largest records back to back") << QList { plain(4, 2, 65535, 9), small, plain(4, 2, 65535, 3) }
                                                      << QList { 70000 } << e({ "A0", "A1", "A2" }) << false;
        QTest::newRow("flag 0, other command") << QList { plain(0, 2, 4) } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("command 3, flag not 0") << QList { plain(1, 3, 4) } << QList<int> {} << e({ "A0" }) << false;
        QTest::newRow("reset record") << QList { reset } << QList<int> {} << e({ "AR", "AR" }) << true;
        QTest::newRow("reset with a payload") << QList { plain(0, 3, 8) } << QList<int> {} << e({ "AR", "AR" }) << true;
        QTest::newRow("records after a reset in the same read are dropped")
            << QList { small, reset, other, small } << QList<int> {} << e({ "A0", "AR", "AR" }) << true;
        QTest::newRow("reset record split over two reads")
            << QList { small, reset, small } << QList { 40 } << e({ "A0", "AR", "AR" }) << true;
    }
    void oneConnection()
    {
        QFETCH(QList<QByteArray>, records);
        QFETCH(QList<int>, cuts);
        QFETCH(QStringList, expected);
        QFETCH(bool, closes);
        Player p;
        QVERIFY(connectPlayer(p));
        const QByteArray stream = wire(records);
        int from = 0;
        for (int cut : cuts << int(stream.size())) {
            QVERIFY(sendAll(p, stream.mid(from, cut - from)));
            from = cut;
        }
        if (closes)
            QTRY_VERIFY_WITH_TIMEOUT(sawEnd(p.peer), 5000);
        checkCalls(expected, &p, &records);
        if (QTest::currentTestFailed())
            return;
        if (closes)
            QTRY_COMPARE_WITH_TIMEOUT(server()->ActiveConnections(), 0, 5000);
        else
            QVERIFY(p.connection->Connected());
        QCOMPARE(library_.calls.size(), expected.size());
    }

    // steps: "A 30" sends the next 30 bytes of A's stream, "B *" the rest of B's; expected:
    // as checkCalls() takes it.
    void twoConnections_data()
    {
        QTest::addColumn<QList<QByteArray>>("recordsA");
        QTest::addColumn<QList<QByteArray>>("recordsB");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");
        const QByteArray a = plain(1, 1, 40, 10);
        const QByteArray b = plain(2, 2, 40, 20);
        QTest::newRow("halves interleaved")
            << QList { a, a } << QList { b } << strings({ "A 30", "B 30", "A 40", "B *", "A *" })
            << strings({ "A0", "B0", "A1" });
        QTest::newRow("a reset on one leaves the other going")
            << QList { a, plain(0, 3, 0) } << QList { b, b } << strings({ "B 30", "A *", "B *" })
            << strings({ "A0", "AR", "AR", "B0", "B1" });
    }
    void twoConnections()
    {
        QFETCH(QList<QByteArray>, recordsA);
        QFETCH(QList<QByteArray>, recordsB);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);
        Player players[2];
        QVERIFY(connectPlayer(players[0]));
        QVERIFY(connectPlayer(players[1]));
        const QByteArray streams[2] = { wire(recordsA), wire(recordsB) };
        const QList<QByteArray> records[2] = { recordsA, recordsB };
        int sent[2] = { 0, 0 };
        for (const QString &step : steps) {
            const int who = step[0] == u'A' ? 0 : 1;
            const QString count = step.mid(2);
            const QByteArray part = streams[who].mid(sent[who], count == QLatin1String("*") ? -1 : count.toInt());
            QVERIFY(sendAll(players[who], part));
            sent[who] += int(part.size());
        }
        checkCalls(expected, players, records);
        QVERIFY(players[0].userWord != players[1].userWord);
    }

    // The peer ends the connection, maybe in the middle of a record.
    void peerEnds_data()
    {
        QTest::addColumn<int>("partial");
        QTest::addColumn<bool>("abort");
        QTest::newRow("orderly close") << 0 << false;
        QTest::newRow("orderly close inside a record") << 30 << false;
        QTest::newRow("reset by the peer") << 0 << true;
        QTest::newRow("reset by the peer inside a record") << 30 << true;
    }
    void peerEnds()
    {
        QFETCH(int, partial);
        QFETCH(bool, abort);
        Player p;
        QVERIFY(connectPlayer(p));
        QVERIFY(sendAll(p, wire({ plain(1, 1, 100) }).left(partial)));
        if (abort)
            p.peer.reset();
        else
            p.peer.close();
        // Reported once, while the handle was still the connection's, and the object released.
        QTRY_COMPARE_WITH_TIMEOUT(library_.calls.size(), 1, 5000);
        checkReset(library_.calls[0], p);
        QTRY_COMPARE_WITH_TIMEOUT(server()->ActiveConnections(), 0, 5000);
        QCOMPARE(library_.calls.size(), 1);

        checkNewConnection(1, plain(2, 2, 8));
    }

    void deactivation_data()
    {
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("partial");
        QTest::newRow("one connection") << 1 << 0;
        QTest::newRow("two connections, one inside a record") << 2 << 30;
    }
    void deactivation()
    {
        QFETCH(int, connections);
        QFETCH(int, partial);
        std::vector<Player> players(static_cast<std::size_t>(connections));
        for (Player &p : players)
            QVERIFY(connectPlayer(p));
        QVERIFY(sendAll(players.back(), wire({ plain(1, 1, 100) }).left(partial)));
        form_->DeactivatePlayerChannel();
        QCOMPARE(server()->ActiveConnections(), 0);
        for (Player &p : players)
            QTRY_VERIFY_WITH_TIMEOUT(sawEnd(p.peer), 5000);
        runLoopFor(100); // a window for a late report that must not come
        QCOMPARE(library_.calls.size(), 0);

        form_->ActivatePlayerChannel();
        checkNewConnection(0, plain(3, 3, 8));
    }
};

QTEST_MAIN(TestPlayerChannel)
#include "tst_playerchannel.moc"
