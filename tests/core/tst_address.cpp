#include "core/address.h"

#include <QtTest>

using namespace bramblet::address;

class TestAddress : public QObject {
    Q_OBJECT
private slots:
    void clean_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("cleaned");
        QTest::newRow("plain quad untouched") << QByteArray("192.168.1.20") << QByteArray("192.168.1.20");
        QTest::newRow("blanks around and before last digit")
            << QByteArray(" 10.0.0. 7 ") << QByteArray("10.0.0.7");
        QTest::newRow("control characters at both ends") << QByteArray("\t\r\n1.2.3.4\x01\x1f") << QByteArray("1.2.3.4");
        QTest::newRow("spaces everywhere inside") << QByteArray("1 . 2 . 3 . 4") << QByteArray("1.2.3.4");
        QTest::newRow("inner tab stays") << QByteArray("1.2\t.3.4") << QByteArray("1.2\t.3.4");
        QTest::newRow("DEL (127) is not trimmed") << QByteArray(" \t \x7f") << QByteArray("\x7f");
        QTest::newRow("all control gives empty") << QByteArray(" \t\r\n ") << QByteArray("");
        QTest::newRow("empty stays empty") << QByteArray("") << QByteArray("");
        QTest::newRow("byte above 127 kept") << QByteArray("\xa1\xa1 1.2.3.4") << QByteArray("\xa1\xa1" "1.2.3.4");
    }
    void clean()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, cleaned);
        QCOMPARE(QByteArray::fromStdString(cleanTypedAddress(typed.toStdString())), cleaned);
    }

    void inet_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("value");
        const uint none = InetAddrNone;
        QTest::newRow("dotted quad") << QByteArray("192.168.1.20") << 0xC0A80114u;
        QTest::newRow("zero address") << QByteArray("0.0.0.0") << 0u;
        QTest::newRow("broadcast equals failure") << QByteArray("255.255.255.255") << none;
        QTest::newRow("two parts: last fills 24 bits") << QByteArray("10.1") << 0x0A000001u;
        QTest::newRow("two parts at 24-bit limit") << QByteArray("1.16777215") << 0x01FFFFFFu;
        QTest::newRow("two parts over 24 bits") << QByteArray("1.16777216") << none;
        QTest::newRow("three parts: last fills 16 bits") << QByteArray("1.2.3") << 0x01020003u;
        QTest::newRow("three parts at 16-bit limit") << QByteArray("1.2.65535") << 0x0102FFFFu;
        QTest::newRow("three parts over 16 bits") << QByteArray("1.2.65536") << none;
        QTest::newRow("single number") << QByteArray("3232235796") << 0xC0A80114u;
        QTest::newRow("single number 32-bit max is failure value") << QByteArray("4294967295") << none;
        QTest::newRow("single number over 32 bits") << QByteArray("4294967296") << none;
        QTest::newRow("huge number") << QByteArray("99999999999999999999999") << none;
        QTest::newRow("octal parts") << QByteArray("010.0.0.012") << 0x0800000Au;
        QTest::newRow("hex parts") << QByteArray("0x7f.0X0.0.0xA") << 0x7F00000Au;
        QTest::newRow("hex single number") << QByteArray("0xC0A80114") << 0xC0A80114u;
        QTest::newRow("many leading zeros") << QByteArray("00000000000000000001") << 1u;
        QTest::newRow("bad octal digit") << QByteArray("08.1.1.1") << none;
        QTest::newRow("0x without digits") << QByteArray("0x") << none;
        QTest::newRow("part over 255") << QByteArray("1.2.3.256") << none;
        QTest::newRow("leading part over 255") << QByteArray("256.1") << none;
        QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << none;
        QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << none;
        QTest::newRow("empty part") << QByteArray("1..3.4") << none;
        QTest::newRow("leading dot") << QByteArray(".1.2.3") << none;
        QTest::newRow("empty text fails") << QByteArray("") << none;
        QTest::newRow("leading blank fails") << QByteArray(" 1.2.3.4") << none;
        QTest::newRow("letters") << QByteArray("abc") << none;
        QTest::newRow("host name") << QByteArray("example.test") << none;
        QTest::newRow("sign") << QByteArray("+1.2.3.4") << none;
        QTest::newRow("trailing letter") << QByteArray("1.2.3.4x") << none;
        QTest::newRow("whitespace ends the text") << QByteArray("1.2.3.4\tjunk") << 0x01020304u;
        QTest::newRow("trailing newline") << QByteArray("1.2.3.4\n") << 0x01020304u;
    }
    void inet()
    {
        QFETCH(QByteArray, text);
        QFETCH(uint, value);
        QCOMPARE(uint(inetAddr(text.toStdString())), value);
    }

    void inetStopsAtZeroByte()
    {
        QCOMPARE(inetAddr(std::string_view("1.2.3.4\0x", 9)), 0x01020304u);
    }

    void dottedQuad_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ordinary") << QByteArray("192.168.1.20") << true;
        QTest::newRow("zeros") << QByteArray("0.0.0.0") << true;
        QTest::newRow("longest, 15 chars") << QByteArray("255.255.255.255") << true;
        QTest::newRow("part 256") << QByteArray("1.2.3.256") << false;
        QTest::newRow("part 999") << QByteArray("999.1.1.1") << false;
        QTest::newRow("four digits") << QByteArray("1.2.3.1000") << false;
        QTest::newRow("leading zero") << QByteArray("01.2.3.4") << false;
        QTest::newRow("double zero") << QByteArray("1.00.3.4") << false;
        QTest::newRow("three parts") << QByteArray("1.2.3") << false;
        QTest::newRow("two parts") << QByteArray("10.1") << false;
        QTest::newRow("single number") << QByteArray("3232235796") << false;
        QTest::newRow("five parts") << QByteArray("1.2.3.4.5") << false;
        QTest::newRow("trailing dot") << QByteArray("1.2.3.4.") << false;
        QTest::newRow("empty part") << QByteArray("1..3.4") << false;
        QTest::newRow("hex part") << QByteArray("0x1.2.3.4") << false;
        QTest::newRow("blank inside") << QByteArray("1.2.3. 4") << false;
        QTest::newRow("trailing blank") << QByteArray("1.2.3.4 ") << false;
        QTest::newRow("hosts line injection") << QByteArray("1.2.3.4\nevil") << false;
        QTest::newRow("sign") << QByteArray("1.2.3.-4") << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("over 15 chars") << QByteArray("1.2.3.4444444444") << false;
        QTest::newRow("name") << QByteArray("localhost") << false;
    }
    void dottedQuad()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QCOMPARE(isDottedQuad(text.toStdString()), valid);
    }

    void format_data()
    {
        QTest::addColumn<uint>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("zero") << 0u << QByteArray("0.0.0.0");
        QTest::newRow("private") << 0x0A000001u << QByteArray("10.0.0.1");
        QTest::newRow("all ones") << 0xFFFFFFFFu << QByteArray("255.255.255.255");
        QTest::newRow("mixed") << 0xC0A80114u << QByteArray("192.168.1.20");
    }
    void format()
    {
        QFETCH(uint, value);
        QFETCH(QByteArray, text);
        const std::string out = formatDottedQuad(value);
        QCOMPARE(QByteArray::fromStdString(out), text);
        QVERIFY(isDottedQuad(out));
        if (value != InetAddrNone)
            QCOMPARE(inetAddr(out), value);
    }
};

QTEST_APPLESS_MAIN(TestAddress)
#include "tst_address.moc"
