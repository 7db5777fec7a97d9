#include "core/errors.h"
#include "core/negotiation.h"

#include "support/NegotiationMessages.h"
#include "support/TestText.h"

#include <QtTest>

#include <vector>

using namespace bramblet::negotiation;

using bramblet::test::strings;
using bramblet::test::bytesOf;
using bramblet::test::addressMessage;

namespace {

template <std::size_t N>
QByteArray toBytes(const std::array<std::uint8_t, N> &a)
{
    return QByteArray(reinterpret_cast<const char *>(a.data()), static_cast<qsizetype>(N));
}

// One line per message, for comparing whole sequences.
QStringList describe(const std::vector<Message> &messages)
{
    QStringList out;
    for (const auto &m : messages) {
        if (const auto *h = std::get_if<NegHello>(&m))
            out << QStringLiteral("hello %1").arg(h->role);
        else if (const auto *a = std::get_if<NegAddress>(&m))
            out << QStringLiteral("address %1").arg(QString::fromStdString(a->address));
        else
            out << QStringLiteral("port request");
    }
    return out;
}

} // namespace

class TestNegotiation : public QObject {
    Q_OBJECT
private slots:
    void encoders()
    {
        QCOMPARE(toBytes(encodeHello(2)), QByteArray::fromHex("0000000002000000"));
        QCOMPARE(toBytes(encodeHello(-1)), QByteArray::fromHex("00000000ffffffff"));
        QCOMPARE(toBytes(encodePortRequest()), QByteArray::fromHex("02000000"));
        const QByteArray a = toBytes(encodeAddress("192.168.1.20"));
        QCOMPARE(a.size(), qsizetype(36));
        QCOMPARE(a.left(4), QByteArray::fromHex("01000000"));
        QCOMPARE(a.mid(4, 13), QByteArray("192.168.1.20\0", 13));
        QCOMPARE(a.mid(16), QByteArray(20, '\0'));
        QCOMPARE(toBytes(encodeAddress("255.255.255.255")).mid(4, 16), QByteArray("255.255.255.255\0", 16));
    }

    void encoderRefusesNonAddress_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("short form") << QByteArray("10.1");
        QTest::newRow("40 characters") << QByteArray(40, '1');
    }
    void encoderRefusesNonAddress()
    {
        QFETCH(QByteArray, text);
        QVERIFY_THROWS_EXCEPTION(bramblet::Error, encodeAddress(text.toStdString()));
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("message");
        const int ok = int(ParseStatus::Ok), incomplete = int(ParseStatus::Incomplete),
                  malformed = int(ParseStatus::Malformed);
        QTest::newRow("client hello") << QByteArray::fromHex("0000000002000000") << ok << 8 << "hello 2";
        QTest::newRow("hello with any role") << QByteArray::fromHex("0000000078563412") << ok << 8 << "hello 305419896";
        QTest::newRow("port request") << QByteArray::fromHex("02000000") << ok << 4 << "port request";
        QTest::newRow("address") << addressMessage("10.0.0.7") << ok << 36 << "address 10.0.0.7";
        QTest::newRow("address, junk after terminator")
            << addressMessage(QByteArray("1.2.3.4\0garbage!", 16)) << ok << 36 << "address 1.2.3.4";
        QTest::newRow("address of 15 chars") << addressMessage("255.255.255.254") << ok << 36
                                             << "address 255.255.255.254";
        QTest::newRow("message followed by more") << QByteArray::fromHex("0200000000000000") << ok << 4
                                                  << "port request";
        QTest::newRow("nothing") << QByteArray() << incomplete << 0 << "";
        QTest::newRow("three bytes of a type") << QByteArray::fromHex("000000") << incomplete << 0 << "";
        QTest::newRow("half a hello") << QByteArray::fromHex("0000000002") << incomplete << 0 << "";
        QTest::newRow("address cut at 35") << addressMessage("1.2.3.4").left(35) << incomplete << 0 << "";
        QTest::newRow("unknown type 3") << QByteArray::fromHex("03000000aabbccdd") << malformed << 8 << "";
        QTest::newRow("negative type") << QByteArray::fromHex("ffffffff") << malformed << 4 << "";
        QTest::newRow("type in the wrong byte") << QByteArray::fromHex("00000001") << malformed << 4 << "";
        QTest::newRow("address without terminator")
            << addressMessage(QByteArray(32, '1')) << malformed << 36 << "";
        QTest::newRow("32 chars no zero of valid look")
            << addressMessage(QByteArray("1.2.3.4").leftJustified(32, ' ')) << malformed << 36 << "";
        QTest::newRow("address field empty") << addressMessage(QByteArray()) << malformed << 36 << "";
        QTest::newRow("address part over 255") << addressMessage("1.2.3.256") << malformed << 36 << "";
        QTest::newRow("address short form") << addressMessage("10.1") << malformed << 36 << "";
        QTest::newRow("address with newline") << addressMessage("1.2.3.4\n5.6.7.8 evil") << malformed << 36 << "";
        QTest::newRow("address host name") << addressMessage("www.example.test") << malformed << 36 << "";
        QTest::newRow("address over 15 chars") << addressMessage("1.2.3.4.5.6.7.8") << malformed << 36 << "";
    }
    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(int, size);
        QFETCH(QString, message);
        const ParseResult r = ::bramblet::negotiation::parse(bytesOf(bytes));
        QCOMPARE(int(r.status), status);
        QCOMPARE(int(r.size), size);
        if (r.status == ParseStatus::Ok)
            QCOMPARE(describe({r.message}).join(QString()), message);
    }

    void roundTrip()
    {
        const std::vector<Message> all{NegHello{2}, NegAddress{"172.16.5.9"}, NegPortRequest{}};
        for (const Message &m : all) {
            const auto bytes = encode(m);
            const ParseResult r = ::bramblet::negotiation::parse(bytes);
            QCOMPARE(int(r.status), int(ParseStatus::Ok));
            QCOMPARE(r.size, bytes.size());
            QVERIFY(r.message == m);
        }
    }

    // Each stream is fed in the given pieces; the messages out must be the same whatever the cut.
    void reassembly_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<int>>("cuts"); // piece sizes; the last piece takes the rest
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("leftOver");
        const QByteArray hello = toBytes(encodeHello(2));
        const QByteArray addr = toBytes(encodeAddress("10.0.0.7"));
        const QByteArray port = toBytes(encodePortRequest());
        const QByteArray bad = addressMessage("1.2.3.999");
        const QStringList seq = strings({"hello 2", "address 10.0.0.7", "port request"});
        QTest::newRow("each alone") << hello + addr + port << QList<int>{8, 36} << seq << 0;
        QTest::newRow("all joined in one read") << hello + addr + port << QList<int>{} << seq << 0;
        QTest::newRow("byte by byte") << hello + addr + port << QList<int>(47, 1) << seq << 0;
        QTest::newRow("type split over reads") << hello + addr + port << QList<int>{2, 8, 1} << seq << 0;
        QTest::newRow("address split in its field") << addr << QList<int>{10, 20} << strings({"address 10.0.0.7"})
                                                    << 0;
        QTest::newRow("half of next message waits")
            << hello + addr.left(20) << QList<int>{} << strings({"hello 2"}) << 20;
        QTest::newRow("malformed address dropped, next kept")
            << bad + port << QList<int>{30} << strings({"port request"}) << 0;
        QTest::newRow("unknown type drops rest of read")
            << hello + QByteArray::fromHex("07000000") + addr << QList<int>{} << strings({"hello 2"}) << 0;
        QTest::newRow("unknown type drops buffered part")
            << QByteArray::fromHex("09000000") + port << QList<int>{4} << strings({"port request"}) << 0;
        QTest::newRow("oversized garbage")
            << QByteArray(5000, '\x55') + port << QList<int>{100, 4900} << strings({"port request"}) << 0;
        QTest::newRow("garbage in one huge read") << hello + QByteArray(100000, '\xee') + port << QList<int>{}
                                                  << strings({"hello 2"}) << 0;
        QTest::newRow("three bytes wait") << QByteArray::fromHex("020000") << QList<int>{} << strings({}) << 3;
    }
    void reassembly()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QList<int>, cuts);
        QFETCH(QStringList, expected);
        QFETCH(int, leftOver);
        Reassembler r;
        std::vector<Message> out;
        qsizetype pos = 0;
        for (int cut : cuts) {
            const auto got = r.feed(bytesOf(stream.mid(pos, cut)));
            out.insert(out.end(), got.begin(), got.end());
            pos += cut;
            QVERIFY(r.buffered() < MaxMessageSize);
        }
        const auto got = r.feed(bytesOf(stream.mid(pos)));
        out.insert(out.end(), got.begin(), got.end());
        QCOMPARE(describe(out), expected);
        QCOMPARE(int(r.buffered()), leftOver);
    }

    void resetForgetsPartial()
    {
        Reassembler r;
        QVERIFY(r.feed(bytesOf(QByteArray::fromHex("0000000002"))).empty());
        r.reset();
        QCOMPARE(r.buffered(), std::size_t(0));
        QCOMPARE(describe(r.feed(bytesOf(toBytes(encodePortRequest())))), strings({"port request"}));
    }

    void connectionsKeepTheirOwnBuffers()
    {
        Reassembler a, b;
        const QByteArray addr = toBytes(encodeAddress("10.1.2.3"));
        QVERIFY(a.feed(bytesOf(addr.left(18))).empty());
        QCOMPARE(describe(b.feed(bytesOf(toBytes(encodePortRequest())))), strings({"port request"}));
        QCOMPARE(describe(a.feed(bytesOf(addr.mid(18)))), strings({"address 10.1.2.3"}));
    }
};

QTEST_APPLESS_MAIN(TestNegotiation)
#include "tst_negotiation.moc"
