#include "core/errors.h"
#include "core/playerchannel.h"

#include "support/ChannelWire.h"
#include "support/TestText.h"

#include <QtTest>

#include <stdexcept>

using namespace bramblet::playerchannel;

using bramblet::test::strings;
using bramblet::test::bytesOf;
using bramblet::test::kWireKey;

namespace {

QByteArray record(std::uint8_t flag, std::uint8_t command, const QByteArray &payload)
{
    const auto bytes = encodeRecord(flag, command, bytesOf(payload));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QByteArray payloadOf(int size, char seed)
{
    QByteArray p(size, '\0');
    for (int i = 0; i < size; ++i)
        p[i] = static_cast<char>(seed + i * 7);
    return p;
}

// What the sink saw: "flag/command/length:first payload bytes hex", "reset" for a reset record.
struct Seen {
    QStringList records;
    QList<QByteArray> payloads;
    RecordSink sink()
    {
        return [this](const Record &r) {
            const auto payload = r.payload();
            QByteArray p(reinterpret_cast<const char *>(payload.data()), static_cast<qsizetype>(payload.size()));
            records << (r.reset ? QStringLiteral("reset")
                                : QStringLiteral("%1/%2/%3").arg(r.flag()).arg(r.command()).arg(r.payloadLength));
            payloads << p;
            QCOMPARE(r.bytes.size(), HeaderSize + r.payloadLength);
        };
    }
};

} // namespace

class TestPlayerChannel : public QObject {
    Q_OBJECT
private slots:
    void scrambleIsItsOwnInverse()
    {
        QByteArray data = payloadOf(31, 'a');
        const QByteArray original = data;
        std::span<std::uint8_t> s(reinterpret_cast<std::uint8_t *>(data.data()), static_cast<std::size_t>(data.size()));
        scramble(s);
        QVERIFY(data != original);
        for (int i = 0; i < data.size(); ++i)
            QCOMPARE(std::uint8_t(data[i] ^ original[i]), kWireKey[std::size_t(i) % 4]);
        scramble(s);
        QCOMPARE(data, original);
    }

    void encodedHeaderLayout()
    {
        const QByteArray r = record(1, 7, payloadOf(0x0123, 'x'));
        QCOMPARE(r.size(), qsizetype(24 + 0x0123));
        QCOMPARE(std::uint8_t(r[0] ^ kWireKey[0]), std::uint8_t(1));
        QCOMPARE(std::uint8_t(r[1] ^ kWireKey[1]), std::uint8_t(7));
        QCOMPARE(std::uint8_t(r[2] ^ kWireKey[2]), std::uint8_t(0x01)); // most significant first
        QCOMPARE(std::uint8_t(r[3] ^ kWireKey[3]), std::uint8_t(0x23));
        // A whole record as its peers send it: header, 20 zero bytes, "hi", all scrambled.
        const QByteArray wire = QByteArray("\x4A\x1A\xA7\x60") + QByteArray("\x4B\x1D\xA7\x62").repeated(5) + "\x23\x74";
        QCOMPARE(record(1, 7, "hi"), wire);
        QVERIFY_THROWS_EXCEPTION(bramblet::Error, encodeRecord(0, 0, bytesOf(QByteArray(65536, 'z'))));
    }

    void resetRecordKinds_data()
    {
        QTest::addColumn<int>("flag");
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("reset");
        QTest::newRow("flag 0 command 3 resets") << 0 << 3 << true;
        QTest::newRow("flag 0 other command") << 0 << 2 << false;
        QTest::newRow("command 3 non-zero flag") << 1 << 3 << false;
        QTest::newRow("flag 0x80 command 3") << 0x80 << 3 << false;
        QTest::newRow("ordinary") << 5 << 9 << false;
    }
    void resetRecordKinds()
    {
        QFETCH(int, flag);
        QFETCH(int, command);
        QFETCH(bool, reset);
        QCOMPARE(isResetRecord(std::uint8_t(flag), std::uint8_t(command)), reset);
        RecordFramer f;
        Seen seen;
        f.feed(bytesOf(record(std::uint8_t(flag), std::uint8_t(command), "abc")), seen.sink());
        QCOMPARE(seen.records.size(), 1);
        QCOMPARE(seen.records[0] == u"reset", reset);
    }

    // A stream fed in the given pieces must come out as the same records whatever the cut.
    void framing_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<int>>("cuts"); // piece sizes; the last piece takes the rest
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("leftOver");
        const QByteArray a = record(1, 2, payloadOf(10, 'a'));
        const QByteArray b = record(4, 5, payloadOf(300, 'b'));
        const QByteArray empty = record(9, 9, QByteArray());
        const QByteArray reset = record(0, 3, QByteArray());
        const QByteArray large = record(2, 2, payloadOf(65535, 'L'));
        QTest::newRow("two records in one read") << a + b << QList<int>{} << strings({"1/2/10", "4/5/300"}) << 0;
        QTest::newRow("record split in its header") << a << QList<int>{3} << strings({"1/2/10"}) << 0;
        QTest::newRow("record split in its payload") << b << QList<int>{100, 100} << strings({"4/5/300"}) << 0;
        QTest::newRow("byte by byte") << a + empty << QList<int>(57, 1) << strings({"1/2/10", "9/9/0"}) << 0;
        QTest::newRow("zero-length record") << empty << QList<int>{} << strings({"9/9/0"}) << 0;
        QTest::newRow("largest record in 1000-byte reads")
            << large + a << QList<int>(66, 1000) << strings({"2/2/65535", "1/2/10"}) << 0;
        QTest::newRow("largest record in one read") << large << QList<int>{} << strings({"2/2/65535"}) << 0;
        QTest::newRow("partial record waits") << a + b.left(50) << QList<int>{} << strings({"1/2/10"}) << 50;
        QTest::newRow("reset drops rest of read")
            << a + reset + b << QList<int>{} << strings({"1/2/10", "reset"}) << 0;
        QTest::newRow("reset drops buffered part")
            << reset + b.left(10) << QList<int>{} << strings({"reset"}) << 0;
        QTest::newRow("record after reset in next read")
            << a + reset + b << QList<int>{int(a.size() + reset.size())} << strings({"1/2/10", "reset", "4/5/300"})
            << 0;
        QTest::newRow("ends exactly at 1000 bytes")
            << record(3, 3, payloadOf(1000 - 24 - 24, 'c')) + empty << QList<int>{1000}
            << strings({"3/3/952", "9/9/0"}) << 0;
    }
    void framing()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QList<int>, cuts);
        QFETCH(QStringList, expected);
        QFETCH(int, leftOver);
        RecordFramer f;
        Seen seen;
        qsizetype pos = 0;
        for (int cut : cuts) {
            f.feed(bytesOf(stream.mid(pos, cut)), seen.sink());
            pos += cut;
        }
        f.feed(bytesOf(stream.mid(pos)), seen.sink());
        QCOMPARE(seen.records, expected);
        QCOMPARE(int(f.buffered()), leftOver);
    }

    // An idle or slow connection holds memory for the bytes it sent, not for a whole record.
    void heldMemoryFollowsTheRecord_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QList<int>>("cuts");
        QTest::addColumn<int>("atMost");
        const QByteArray large = record(2, 2, payloadOf(65535, 'L'));
        QTest::newRow("one byte") << large.left(1) << QList<int>{} << 16;
        QTest::newRow("a header announcing the largest record") << large.left(4) << QList<int>{} << 16;
        QTest::newRow("half the largest record") << large.left(33000) << QList<int>(32, 1000) << 2 * 33000;
        QTest::newRow("largest record in 1000-byte reads, then idle") << large << QList<int>(66, 1000) << 1024;
        QTest::newRow("largest record then a byte of the next")
            << large + large.left(1) << QList<int>{int(large.size())} << 1024;
    }
    void heldMemoryFollowsTheRecord()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QList<int>, cuts);
        QFETCH(int, atMost);
        RecordFramer f;
        Seen seen;
        qsizetype pos = 0;
        for (int cut : cuts) {
            f.feed(bytesOf(stream.mid(pos, cut)), seen.sink());
            pos += cut;
        }
        f.feed(bytesOf(stream.mid(pos)), seen.sink());
        QVERIFY2(f.held() <= std::size_t(atMost), qPrintable(QString::number(f.held())));
    }

    void payloadUnscrambledInPlace()
    {
        const QByteArray p1 = payloadOf(77, 'p');
        const QByteArray p2 = payloadOf(5, 'q');
        RecordFramer f;
        Seen seen;
        const QByteArray stream = record(1, 1, p1) + record(1, 2, p2);
        f.feed(bytesOf(stream.left(40)), seen.sink());
        f.feed(bytesOf(stream.mid(40)), seen.sink());
        QCOMPARE(seen.payloads, (QList<QByteArray>{p1, p2}));
    }

    void recordBytesLieInTheFramersBuffer()
    {
        // The library is handed a pointer to the record: the header must be unscrambled too.
        RecordFramer f;
        bool checked = false;
        QByteArray extra(20, '\x11');
        const auto bytes = encodeRecord(6, 8, bytesOf("xyz"), bytesOf(extra));
        f.feed(bytes, [&](const Record &r) {
            const std::uint8_t *p = r.bytes.data();
            QCOMPARE(p[0], std::uint8_t(6));
            QCOMPARE(p[1], std::uint8_t(8));
            QCOMPARE(p[2], std::uint8_t(0));
            QCOMPARE(p[3], std::uint8_t(3));
            QCOMPARE(p[4], std::uint8_t(0x11));
            QCOMPARE(p[24], std::uint8_t('x'));
            QVERIFY(p != bytes.data());
            checked = true;
        });
        QVERIFY(checked);
    }

    void connectionsKeepTheirOwnBuffers()
    {
        const QByteArray a = record(1, 1, payloadOf(40, 'a'));
        const QByteArray b = record(2, 2, payloadOf(40, 'b'));
        RecordFramer fa, fb;
        Seen sa, sb;
        fa.feed(bytesOf(a.left(30)), sa.sink());
        fb.feed(bytesOf(b.left(30)), sb.sink());
        fa.feed(bytesOf(a.mid(30)), sa.sink());
        fb.feed(bytesOf(b.mid(30)), sb.sink());
        QCOMPARE(sa.payloads, QList<QByteArray>{payloadOf(40, 'a')});
        QCOMPARE(sb.payloads, QList<QByteArray>{payloadOf(40, 'b')});
    }

    void failingSinkLeavesLaterRecordsBuffered()
    {
        const QByteArray a = record(1, 1, "one");
        const QByteArray b = record(1, 2, "two");
        RecordFramer f;
        int calls = 0;
        auto throwing = [&](const Record &) {
            if (++calls == 1)
                throw std::runtime_error("library failed");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, f.feed(bytesOf(a + b), throwing));
        QCOMPARE(int(f.buffered()), int(b.size()));
        Seen seen;
        f.feed({}, seen.sink());
        f.feed(bytesOf(QByteArray()), seen.sink());
        QCOMPARE(seen.records, strings({})); // an empty feed cuts nothing by itself
        f.feed(bytesOf(record(1, 3, "three")), seen.sink());
        QCOMPARE(seen.records, strings({"1/2/3", "1/3/5"}));
    }
};

QTEST_APPLESS_MAIN(TestPlayerChannel)
#include "tst_playerchannel.moc"
