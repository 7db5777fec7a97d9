#include "core/errors.h"
#include "core/guard.h"

#include <QtTest>

#include <string>
#include <vector>

using namespace bramblet;

class TestGuard : public QObject {
    Q_OBJECT
private slots:
    void boxText_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("letter gets a period") << QByteArray("Connection refused") << QByteArray("Connection refused.");
        QTest::newRow("period kept") << QByteArray("Done.") << QByteArray("Done.");
        QTest::newRow("exclamation sorts before period") << QByteArray("Stop!") << QByteArray("Stop!");
        QTest::newRow("comma sorts before period") << QByteArray("a,") << QByteArray("a,");
        QTest::newRow("slash sorts after period") << QByteArray("a/") << QByteArray("a/.");
        QTest::newRow("digit sorts after period") << QByteArray("error 10048") << QByteArray("error 10048.");
        QTest::newRow("closing parenthesis sorts before") << QByteArray("(x)") << QByteArray("(x)");
        QTest::newRow("Chinese ends above ASCII") << QByteArray("帮助文件损坏") << QByteArray("帮助文件损坏.");
        QTest::newRow("empty stays empty") << QByteArray("") << QByteArray("");
    }
    void boxText()
    {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, shown);
        QCOMPARE(QByteArray::fromStdString(errorBoxText(message.toStdString())), shown);
    }

    void guardCatchesAndGoesOn()
    {
        std::vector<std::string> seen;
        setErrorSink([&](const std::string &m) { seen.push_back(m); });
        bool after = false;
        guarded([] { throw Error("first"); });
        guarded([] { throw CodedError("second", 10061); });
        guarded([] { throw 42; });
        guarded([&] { after = true; });
        setErrorSink({});
        QVERIFY(after);
        QCOMPARE(seen.size(), std::size_t(3));
        QCOMPARE(seen[0], std::string("first"));
        QCOMPARE(seen[1], std::string("second"));
    }

    void failingSinkDoesNotEscape()
    {
        setErrorSink([](const std::string &) { throw std::runtime_error("sink broke"); });
        guarded([] { throw Error("x"); });
        setErrorSink({});
    }
};

QTEST_APPLESS_MAIN(TestGuard)
#include "tst_guard.moc"
