#include "core/speedtest.h"

#include "support/TestText.h"

#include <QtTest>

using namespace bramblet::speedtest;

using bramblet::test::bytesOf;

namespace {

template <std::size_t N>
QByteArray toBytes(const std::array<std::uint8_t, N> &a)
{
    return QByteArray(reinterpret_cast<const char *>(a.data()), static_cast<qsizetype>(N));
}

QString q(const std::string &s) { return QString::fromStdString(s); }

// Runs a whole test: probe i is answered after rtts[i] ms, or not at all when rtts[i] < 0.
SpeedTest runTest(const QList<int> &rtts)
{
    SpeedTest t;
    t.reset();
    std::int64_t now = 1'000'000;
    for (int i = 0; i < ProbeCount; ++i) {
        t.probeSent(now);
        if (i < rtts.size() && rtts[i] >= 0)
            t.echoReceived(i, now + rtts[i]);
        now += 1000;
    }
    return t;
}

} // namespace

class TestSpeedTest : public QObject {
    Q_OBJECT
private slots:
    void encoders()
    {
        QCOMPARE(toBytes(encodeSpeedOpen()), QByteArray::fromHex("00000000"));
        QCOMPARE(toBytes(encodeSpeedProbe(3)), QByteArray::fromHex("0100000003000000"));
        QCOMPARE(toBytes(encodeSpeedEcho(3)), QByteArray::fromHex("0200000003000000"));
        QCOMPARE(toBytes(encodeSpeedEcho(-2)), QByteArray::fromHex("02000000feffffff"));
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("sequence");
        QTest::newRow("open") << QByteArray::fromHex("00000000") << true << 0 << 0;
        QTest::newRow("open with extra bytes") << QByteArray::fromHex("0000000009000000") << true << 0 << 0;
        QTest::newRow("probe 3") << QByteArray::fromHex("0100000003000000") << true << 1 << 3;
        QTest::newRow("echo 9") << QByteArray::fromHex("0200000009000000") << true << 2 << 9;
        QTest::newRow("echo with large sequence") << QByteArray::fromHex("02000000ffffff7f") << true << 2
                                                  << 0x7fffffff;
        QTest::newRow("probe with trailing bytes") << QByteArray::fromHex("0100000001000000ffff") << true << 1 << 1;
        QTest::newRow("empty") << QByteArray() << false << 0 << 0;
        QTest::newRow("three bytes") << QByteArray::fromHex("000000") << false << 0 << 0;
        QTest::newRow("probe of 7 bytes") << QByteArray::fromHex("01000000030000") << false << 0 << 0;
        QTest::newRow("echo of 4 bytes") << QByteArray::fromHex("02000000") << false << 0 << 0;
        QTest::newRow("unknown type") << QByteArray::fromHex("0300000003000000") << false << 0 << 0;
        QTest::newRow("type in high byte") << QByteArray::fromHex("0000000103000000") << false << 0 << 0;
    }
    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QFETCH(int, type);
        QFETCH(int, sequence);
        const auto d = parseDatagram(bytesOf(bytes));
        QCOMPARE(d.has_value(), valid);
        if (d) {
            QCOMPARE(int(d->type), type);
            QCOMPARE(d->sequence, sequence);
        }
    }

    void grades_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("word");
        const QList<std::pair<int, const char *>> speed{
            {0, "极好"},   {29, "极好"}, {30, "很好"},  {49, "很好"},   {50, "良好"},       {69, "良好"},
            {70, "一般"}, {99, "一般"}, {100, "差"}, {149, "差"}, {150, "非常差"}, {100000, "非常差"}};
        for (const auto &[v, w] : speed)
            QTest::addRow("speed %d", v) << "speed" << v << QString::fromUtf8(w);
        const QList<std::pair<int, const char *>> stability{
            {0, "极好"},  {4, "极好"},  {5, "很好"}, {9, "很好"},  {10, "良好"},     {19, "良好"},
            {20, "一般"}, {29, "一般"}, {30, "差"}, {49, "差"}, {50, "非常差"}, {5000, "非常差"}};
        for (const auto &[v, w] : stability)
            QTest::addRow("stability %d", v) << "stability" << v << QString::fromUtf8(w);
        const QList<std::pair<int, const char *>> loss{{10, "没有丢包"},     {9, "有少量丢包"}, {11, "有少量丢包"},
                                                       {8, "有很多丢包"},   {7, "有大量丢包"}, {1, "有大量丢包"},
                                                       {0, "对方Bramblet版本太低或者网络不通"}};
        for (const auto &[v, w] : loss)
            QTest::addRow("loss %d", v) << "loss" << v << QString::fromUtf8(w);
    }
    void grades()
    {
        QFETCH(QString, table);
        QFETCH(int, value);
        QFETCH(QString, word);
        const std::string got = table == u"speed"       ? speedGrade(value)
                                : table == u"stability" ? stabilityGrade(value)
                                                        : lossGrade(value);
        QCOMPARE(q(got), word);
    }

    void rating_data()
    {
        QTest::addColumn<QList<int>>("rtts"); // per probe; -1 = no echo
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("stability");
        QTest::addColumn<QString>("loss");
        const QString noEcho = QString::fromUtf8(NoEchoText);
        QTest::newRow("ten echoes of 20 ms") << QList<int>(10, 20) << "极好" << "极好" << "没有丢包";
        QTest::newRow("average exactly 30") << QList<int>(10, 30) << "很好" << "极好" << "没有丢包";
        QTest::newRow("average exactly 150") << QList<int>(10, 150) << "非常差" << "极好" << "没有丢包";
        // 20 and 30 alternating: average 25, each 5 away.
        QTest::newRow("deviation exactly 5") << QList<int>{20, 30, 20, 30, 20, 30, 20, 30, 20, 30} << "极好"
                                             << "很好" << "没有丢包";
        // 0 and 100 alternating: average 50, each 50 away.
        QTest::newRow("deviation exactly 50") << QList<int>{0, 100, 0, 100, 0, 100, 0, 100, 0, 100} << "良好"
                                              << "非常差" << "没有丢包";
        // Average of 10, 10, 11 truncates to 10; deviations 0+0+1 = 1, / 3 = 0.
        QTest::newRow("truncating average") << QList<int>{10, 10, 11, -1, -1, -1, -1, -1, -1, -1} << "极好"
                                            << "极好" << "有大量丢包";
        QTest::newRow("nine echoes") << QList<int>{40, 40, 40, 40, 40, 40, 40, 40, 40, -1} << "很好" << "极好"
                                     << "有少量丢包";
        QTest::newRow("eight echoes") << QList<int>{-1, 60, 60, 60, 60, 60, 60, 60, 60, -1} << "良好" << "极好"
                                      << "有很多丢包";
        QTest::newRow("seven echoes") << QList<int>{80, 80, 80, -1, 80, 80, -1, 80, 80, -1} << "一般" << "极好"
                                      << "有大量丢包";
        QTest::newRow("one echo") << QList<int>{-1, -1, -1, -1, 120, -1, -1, -1, -1, -1} << "差" << "极好"
                                  << "有大量丢包";
        QTest::newRow("no echo at all") << QList<int>(10, -1) << noEcho << noEcho << noEcho;
    }
    void rating()
    {
        QFETCH(QList<int>, rtts);
        QFETCH(QString, speed);
        QFETCH(QString, stability);
        QFETCH(QString, loss);
        const Rating r = runTest(rtts).rating();
        QCOMPARE(q(r.speed), speed);
        QCOMPARE(q(r.stability), stability);
        QCOMPARE(q(r.loss), loss);
    }

    // Which echoes count: the state is after `probes` probes sent at t=0, then one echo.
    void echoRule_data()
    {
        QTest::addColumn<int>("probes");
        QTest::addColumn<int>("sequence");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<bool>("counted");
        QTest::addColumn<int>("rtt");
        QTest::newRow("echo of latest probe") << 3 << 2 << qint64(45) << true << 45;
        QTest::newRow("late echo of earlier probe") << 3 << 1 << qint64(45) << false << -1;
        QTest::newRow("echo before any probe") << 0 << 0 << qint64(10) << false << -1;
        QTest::newRow("echo ahead of probes") << 3 << 3 << qint64(10) << false << -1;
        QTest::newRow("negative sequence") << 3 << -1 << qint64(10) << false << -1;
        QTest::newRow("echo of tenth probe") << 10 << 9 << qint64(999) << true << 999;
        QTest::newRow("clock behind stamp reads 0") << 2 << 1 << qint64(-500) << true << 0;
        QTest::newRow("huge gap is capped") << 2 << 1 << (qint64(1) << 40) << true << SpeedTest::MaxRttMs;
    }
    void echoRule()
    {
        QFETCH(int, probes);
        QFETCH(int, sequence);
        QFETCH(qint64, at);
        QFETCH(bool, counted);
        QFETCH(int, rtt);
        SpeedTest t;
        for (int i = 0; i < probes; ++i)
            t.probeSent(0);
        QCOMPARE(t.echoReceived(sequence, at), counted);
        QCOMPARE(t.EchoesReceived, counted ? 1 : 0);
        QCOMPARE(t.RttSum, counted ? rtt : 0);
        if (sequence >= 0 && sequence < ProbeCount)
            QCOMPARE(t.Rtt[std::size_t(sequence)], rtt);
    }

    void duplicateEchoCountsOnce()
    {
        SpeedTest t;
        t.probeSent(100);
        QVERIFY(t.echoReceived(0, 130));
        QVERIFY(!t.echoReceived(0, 160));
        QCOMPARE(t.EchoesReceived, 1);
        QCOMPARE(t.RttSum, 30);
        QCOMPARE(t.Rtt[0], 30);
        // Ten probes each echoed twice still read as ten echoes.
        SpeedTest u;
        for (int i = 0; i < ProbeCount; ++i) {
            u.probeSent(i * 1000);
            u.echoReceived(i, i * 1000 + 20);
            u.echoReceived(i, i * 1000 + 90);
        }
        QCOMPARE(u.EchoesReceived, 10);
        QCOMPARE(q(u.rating().loss), QStringLiteral("没有丢包"));
        QCOMPARE(q(u.rating().stability), QStringLiteral("极好"));
    }

    void resetKeepsStampAndClearsSlots()
    {
        SpeedTest t;
        t.probeSent(500);
        t.echoReceived(0, 520);
        t.reset();
        QCOMPARE(t.ProbesSent, 0);
        QCOMPARE(t.EchoesReceived, 0);
        QCOMPARE(t.RttSum, 0);
        QCOMPARE(t.ProbeStamp, std::int64_t(500));
        for (auto slot : t.Rtt)
            QCOMPARE(slot, -1);
        // The test starts over: the same sequence may be answered again.
        t.probeSent(2000);
        QVERIFY(t.echoReceived(0, 2007));
        QCOMPARE(t.Rtt[0], 7);
    }

    void countdownRunsFromTenToOne()
    {
        SpeedTest t;
        QStringList captions;
        while (!t.allProbesSent()) {
            captions << q(t.countdownCaption());
            QCOMPARE(t.nextSequence(), captions.size() - 1);
            t.probeSent(0);
        }
        QCOMPARE(captions.size(), 10);
        QCOMPARE(captions.first(), QStringLiteral("测试速度，请等待10秒钟..."));
        QCOMPARE(captions.first(), QString::fromUtf8(StartStatusText)); // 10 twice in a row
        QCOMPARE(captions.last(), QStringLiteral("测试速度，请等待1秒钟..."));
        t.probeSent(0); // an extra call never runs past ten probes
        QCOMPARE(t.ProbesSent, 10);
    }
};

QTEST_APPLESS_MAIN(TestSpeedTest)
#include "tst_speedtest.moc"
