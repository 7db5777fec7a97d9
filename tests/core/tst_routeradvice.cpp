// Which advice the player reads for which answer of the home router.
#include "core/router.h"

#include <QtTest>

using namespace bramblet::router;

Q_DECLARE_METATYPE(AddressClass)
Q_DECLARE_METATYPE(AdviceKind)
Q_DECLARE_METATYPE(RouterAnswer)

namespace {

RouterAnswer answer(const char *external, std::vector<PortOutcome> outcomes = {}, int code = 0)
{
    RouterAnswer a;
    a.answered = true;
    a.method = "UPnP IGD";
    a.externalAddress = external;
    a.lanAddress = "192.168.1.20";
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        a.ports.push_back({LinkPorts[i], outcomes[i], outcomes[i] == PortOutcome::Refused ? code : 0});
    return a;
}

const std::vector<PortOutcome> allMapped{PortOutcome::Mapped, PortOutcome::Mapped, PortOutcome::Mapped};

} // namespace

class TestRouterAdvice : public QObject {
    Q_OBJECT
private slots:
    void classify_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<AddressClass>("expected");
        QTest::newRow("public") << "11.0.113.1" << AddressClass::Public;
        QTest::newRow("10/8") << "10.255.0.1" << AddressClass::Private;
        QTest::newRow("just below 172.16/12") << "172.15.255.255" << AddressClass::Public;
        QTest::newRow("172.16/12 low") << "172.16.0.0" << AddressClass::Private;
        QTest::newRow("172.16/12 high") << "172.31.255.255" << AddressClass::Private;
        QTest::newRow("just above 172.16/12") << "172.32.0.1" << AddressClass::Public;
        QTest::newRow("192.168/16") << "192.168.0.1" << AddressClass::Private;
        QTest::newRow("100.64/10 low") << "100.64.0.1" << AddressClass::Shared;
        QTest::newRow("100.64/10 high") << "100.127.255.254" << AddressClass::Shared;
        QTest::newRow("just above 100.64/10") << "100.128.0.1" << AddressClass::Public;
        QTest::newRow("not connected yet") << "0.0.0.0" << AddressClass::Unusable;
        QTest::newRow("loopback") << "127.0.0.1" << AddressClass::Unusable;
        QTest::newRow("link-local") << "169.254.3.4" << AddressClass::Unusable;
        QTest::newRow("multicast") << "239.255.255.250" << AddressClass::Unusable;
        QTest::newRow("broadcast") << "255.255.255.255" << AddressClass::Unusable;
        QTest::newRow("empty") << "" << AddressClass::Unusable;
        QTest::newRow("garbage") << "<html>" << AddressClass::Unusable;
        QTest::newRow("short form") << "10.1" << AddressClass::Unusable;
        QTest::newRow("trailing text") << "11.0.113.1 x" << AddressClass::Unusable;
    }
    void classify()
    {
        QFETCH(QString, address);
        QFETCH(AddressClass, expected);
        QCOMPARE(classifyExternalAddress(address.toStdString()), expected);
    }

    void server_data()
    {
        QTest::addColumn<RouterAnswer>("routerAnswer");
        QTest::addColumn<AdviceKind>("kind");
        QTest::addColumn<QString>("says"); // a part of the text the player must read

        QTest::newRow("all mapped: the address to give") << answer("11.0.113.1", allMapped) << AdviceKind::GiveAddress
                                                         << "请把这个地址告诉对方：11.0.113.1";
        QTest::newRow("no router: ports and the LAN address")
            << RouterAnswer{} << AdviceKind::NoRouter << "TCP 9001、UDP 5739、TCP 11881 手动转发到本机 192.168.9.9";
        QTest::newRow("garbage address counts as no router")
            << answer("999.1.1.1", allMapped) << AdviceKind::NoRouter << "本机 192.168.1.20";
        QTest::newRow("private external address")
            << answer("10.20.30.40", allMapped) << AdviceKind::SharedAddress << "10.20.30.40 是运营商的内部地址";
        QTest::newRow("shared external address beats a conflict")
            << answer("100.64.7.7", {PortOutcome::Conflict, PortOutcome::Mapped, PortOutcome::Mapped})
            << AdviceKind::SharedAddress << "请让对方按 SERVER";
        QTest::newRow("conflict names its port")
            << answer("11.0.113.1", {PortOutcome::Mapped, PortOutcome::Conflict, PortOutcome::Mapped})
            << AdviceKind::Conflict << "UDP 5739 端口已转发给另一台电脑";
        QTest::newRow("conflict before a refusal")
            << answer("11.0.113.1", {PortOutcome::Refused, PortOutcome::Mapped, PortOutcome::Conflict}, 606)
            << AdviceKind::Conflict << "TCP 11881";
        QTest::newRow("refusal names its port and code")
            << answer("11.0.113.1", {PortOutcome::Mapped, PortOutcome::Mapped, PortOutcome::Refused}, 606)
            << AdviceKind::Refused << "TCP 11881 端口（代码 606）";
        QTest::newRow("ports cut short count as refused")
            << answer("11.0.113.1", {PortOutcome::Mapped}) << AdviceKind::Refused << "手动转发到本机 192.168.1.20";
    }
    void server()
    {
        QFETCH(RouterAnswer, routerAnswer);
        QFETCH(AdviceKind, kind);
        QFETCH(QString, says);
        const Advice advice = adviceForServer(routerAnswer, "192.168.9.9");
        QCOMPARE(advice.kind, kind);
        const QString text = QString::fromStdString(advice.text);
        QVERIFY2(text.contains(says), qPrintable(text));
        QStringEncoder gb2312("GB2312");
        const QByteArray bytes = gb2312(text);
        QVERIFY2(gb2312.isValid() && !gb2312.hasError() && !bytes.isEmpty(), qPrintable(text));
    }

    void atStart_data()
    {
        QTest::addColumn<RouterAnswer>("routerAnswer");
        QTest::addColumn<AdviceKind>("kind");
        QTest::newRow("silent router: nothing to say yet") << RouterAnswer{} << AdviceKind::Nothing;
        QTest::newRow("unusable address: nothing") << answer("0.0.0.0") << AdviceKind::Nothing;
        QTest::newRow("public: the address to give") << answer("11.0.113.1") << AdviceKind::GiveAddress;
        QTest::newRow("shared: told before any press") << answer("100.100.1.1") << AdviceKind::SharedAddress;
    }
    void atStart()
    {
        QFETCH(RouterAnswer, routerAnswer);
        QFETCH(AdviceKind, kind);
        QCOMPARE(adviceAtStart(routerAnswer).kind, kind);
    }

    void client_data()
    {
        QTest::addColumn<int>("failed");
        QTest::addColumn<AdviceKind>("kind");
        QTest::newRow("two attempts: still quiet") << 2 << AdviceKind::Nothing;
        QTest::newRow("three attempts") << 3 << AdviceKind::ClientNoAnswer;
        QTest::newRow("more") << 7 << AdviceKind::ClientNoAnswer;
    }
    void client()
    {
        QFETCH(int, failed);
        QFETCH(AdviceKind, kind);
        const Advice advice = adviceForClient(failed, "11.0.113.1", 9001);
        QCOMPARE(advice.kind, kind);
        if (kind != AdviceKind::Nothing)
            QVERIFY(QString::fromStdString(advice.text).contains(QStringLiteral("连接 11.0.113.1 的 TCP 9001 端口")));
    }
};

QTEST_APPLESS_MAIN(TestRouterAdvice)
#include "tst_routeradvice.moc"
