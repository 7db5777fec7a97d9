#include "core/linksummary.h"
#include "core/speedtest.h"

#include <QtTest>

class TestLinkSummary : public QObject {
    Q_OBJECT
private slots:
    void summary_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("stability");
        QTest::addColumn<QString>("loss");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("ordinary link") << "203.0.113.9" << "极好" << "很好" << "没有丢包"
                                       << QByteArray(" 对方真实地址为：203.0.113.9\r\n 速度：极好\r\n 稳定性：很好\r\n 丢包：没有丢包");
        const QString noEcho = QString::fromUtf8(bramblet::speedtest::NoEchoText);
        QTest::newRow("peer never answered") << "10.0.0.2" << noEcho << noEcho << noEcho
                                             << QByteArray(" 对方真实地址为：10.0.0.2\r\n 速度：对方Bramblet版本太低或者网络不通\r\n"
                                                           " 稳定性：对方Bramblet版本太低或者网络不通\r\n"
                                                           " 丢包：对方Bramblet版本太低或者网络不通");
        QTest::newRow("empty values keep the labels") << "" << "" << "" << ""
                                                      << QByteArray(" 对方真实地址为：\r\n 速度：\r\n 稳定性：\r\n 丢包：");
    }
    void summary()
    {
        QFETCH(QString, peer);
        QFETCH(QString, speed);
        QFETCH(QString, stability);
        QFETCH(QString, loss);
        QFETCH(QByteArray, expected);
        const std::string text = bramblet::linkSummary(peer.toStdString(), speed.toStdString(),
                                                       stability.toStdString(), loss.toStdString());
        QCOMPARE(QByteArray::fromStdString(text), expected);
        QVERIFY(!QByteArray::fromStdString(text).endsWith("\r\n"));
        QCOMPARE(QByteArray::fromStdString(text).count("\r\n"), qsizetype(3));
    }
};

QTEST_APPLESS_MAIN(TestLinkSummary)
#include "tst_linksummary.moc"
