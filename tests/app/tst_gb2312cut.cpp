#include "app/Gb2312.h"

#include <QtTest>

using namespace bramblet;

namespace {
// Two bytes each in GB2312.
const QString kZhong = QStringLiteral("中");
const QString kWen = QStringLiteral("文");

QString ascii(qsizetype n) { return QString(n, QLatin1Char('a')); }
} // namespace

class TestGb2312Cut : public QObject {
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("kept");
        auto row = [](const char *name, const QString &in, std::size_t limit, const QString &kept) {
            QTest::newRow(name) << in << int(limit) << kept;
        };
        // Tooltip edge: 127 bytes.
        row("tip: 126 bytes fit whole", ascii(124) + kZhong, kTrayTipBytes, ascii(124) + kZhong);
        row("tip: 127 bytes fit whole", ascii(125) + kZhong, kTrayTipBytes, ascii(125) + kZhong);
        row("tip: 128 bytes, last character dropped whole", ascii(126) + kZhong, kTrayTipBytes, ascii(126));
        row("tip: Chinese straddling byte 127", ascii(126) + kZhong + QStringLiteral("b"), kTrayTipBytes, ascii(126));
        row("tip: Chinese ending at byte 127", ascii(125) + kZhong + QStringLiteral("b"), kTrayTipBytes, ascii(125) + kZhong);
        row("tip: all Chinese, odd limit keeps 63 characters", [] {
            QString s;
            for (int i = 0; i < 70; ++i)
                s += kZhong;
            return s;
        }(), kTrayTipBytes, [] {
            QString s;
            for (int i = 0; i < 63; ++i)
                s += kZhong;
            return s;
        }());
        // Balloon text edge: 255 bytes.
        row("text: 254 bytes fit whole", ascii(252) + kWen, kBalloonTextBytes, ascii(252) + kWen);
        row("text: 255 bytes fit whole", ascii(253) + kWen, kBalloonTextBytes, ascii(253) + kWen);
        row("text: 256 bytes, Chinese straddling the edge", ascii(254) + kWen, kBalloonTextBytes, ascii(254));
        row("text: Chinese then ASCII at the edge", ascii(253) + kWen + QStringLiteral("xyz"), kBalloonTextBytes, ascii(253) + kWen);
        // Balloon title edge: 63 bytes.
        row("title: Chinese straddling byte 63", ascii(62) + kZhong, kBalloonTitleBytes, ascii(62));
        row("title: 63 bytes exactly", ascii(61) + kZhong, kBalloonTitleBytes, ascii(61) + kZhong);
        // Odd input.
        row("empty stays empty", QString(), kTrayTipBytes, QString());
        row("limit 0 keeps nothing", kZhong, 0, QString());
        row("limit 1 cannot hold a Chinese character", kZhong + QStringLiteral("a"), 1, QString());
        row("CR LF counts two bytes", QStringLiteral("ab\r\ncd"), 4, QStringLiteral("ab\r\n"));
    }
    void cut()
    {
        QFETCH(QString, input);
        QFETCH(int, limit);
        QFETCH(QString, kept);
        QCOMPARE(cutToGb2312Bytes(input, std::size_t(limit)), kept);
        QVERIFY(toGb2312(kept).size() <= limit);
    }
};

QTEST_GUILESS_MAIN(TestGb2312Cut)
#include "tst_gb2312cut.moc"
