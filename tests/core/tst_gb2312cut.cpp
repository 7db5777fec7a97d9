#include "core/gb2312cut.h"

#include <QtTest>

#include <string>

using namespace bramblet;

namespace {
// "中" and "文" in GB2312.
const std::string kZhong = "\xD6\xD0";
const std::string kWen = "\xCE\xC4";

std::string ascii(std::size_t n) { return std::string(n, 'a'); }
} // namespace

class TestGb2312Cut : public QObject {
    Q_OBJECT
private slots:
    void cut_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QByteArray>("kept");
        auto row = [](const char *name, const std::string &in, std::size_t limit, const std::string &kept) {
            QTest::newRow(name) << QByteArray::fromStdString(in) << int(limit) << QByteArray::fromStdString(kept);
        };
        // Tooltip edge: 127 bytes.
        row("tip: 126 bytes fit whole", ascii(124) + kZhong, kTrayTipBytes, ascii(124) + kZhong);
        row("tip: 127 bytes fit whole", ascii(125) + kZhong, kTrayTipBytes, ascii(125) + kZhong);
        row("tip: 128 bytes, last character dropped whole", ascii(126) + kZhong, kTrayTipBytes, ascii(126));
        row("tip: Chinese straddling byte 127", ascii(126) + kZhong + "b", kTrayTipBytes, ascii(126));
        row("tip: Chinese ending at byte 127", ascii(125) + kZhong + "b", kTrayTipBytes, ascii(125) + kZhong);
        row("tip: all Chinese, odd limit keeps 63 characters", [] {
            std::string s;
            for (int i = 0; i < 70; ++i)
                s += kZhong;
            return s;
        }(), kTrayTipBytes, [] {
            std::string s;
            for (int i = 0; i < 63; ++i)
                s += kZhong;
            return s;
        }());
        // Balloon text edge: 255 bytes.
        row("text: 254 bytes fit whole", ascii(252) + kWen, kBalloonTextBytes, ascii(252) + kWen);
        row("text: 255 bytes fit whole", ascii(253) + kWen, kBalloonTextBytes, ascii(253) + kWen);
        row("text: 256 bytes, Chinese straddling the edge", ascii(254) + kWen, kBalloonTextBytes, ascii(254));
        row("text: Chinese then ASCII at the edge", ascii(253) + kWen + "xyz", kBalloonTextBytes, ascii(253) + kWen);
        // Balloon title edge: 63 bytes.
        row("title: Chinese straddling byte 63", ascii(62) + kZhong, kBalloonTitleBytes, ascii(62));
        row("title: 63 bytes exactly", ascii(61) + kZhong, kBalloonTitleBytes, ascii(61) + kZhong);
        // Odd input.
        row("empty stays empty", "", kTrayTipBytes, "");
        row("limit 0 keeps nothing", kZhong, 0, "");
        row("limit 1 cannot hold a Chinese character", kZhong + "a", 1, "");
        row("dangling lead byte dropped", "ab\xD6", 10, "ab");
        row("0x80 is a single byte", "\x80\x80", 1, "\x80");
        row("0x81 leads two bytes", "\x81\x40" "a", 2, "\x81\x40");
        row("CR LF counts two bytes", "ab\r\ncd", 4, "ab\r\n");
    }
    void cut()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, limit);
        QFETCH(QByteArray, kept);
        const std::string in = input.toStdString();
        const std::string_view out = cutGb2312(in, std::size_t(limit));
        QCOMPARE(QByteArray(out.data(), qsizetype(out.size())), kept);
        QVERIFY(out.size() <= std::size_t(limit));
        QCOMPARE(static_cast<const void *>(out.data()), static_cast<const void *>(in.data()));
    }
};

QTEST_APPLESS_MAIN(TestGb2312Cut)
#include "tst_gb2312cut.moc"
