// Which advice the player reads for which answer of the home router.
#include "core/router.h"

#include <QtTest>

using namespace bramblet::router;

Q_DECLARE_METATYPE(AddressClass)
Q_DECLARE_METATYPE(AdviceKind)
Q_DECLARE_METATYPE(RouterAnswer)
Q_DECLARE_METATYPE(EntryHolder)

namespace {

RouterAnswer answer(const char *external, std::vector<PortOutcome> outcomes = {}, int code = 0)
{
    RouterAnswer a;
    a.answered = true;
    a.method = "UPnP IGD";
    a.externalAddress = external;
    a.lanAddress = "192.168.1.20";
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        a.ports.push_back({LinkPorts[i], outcomes[i], outcomes[i] == PortOutcome::Mapped ? 0 : code});
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
        QTest::newRow("DS-Lite 192.0.0.0/24") << "192.0.0.2" << AddressClass::Shared;
        QTest::newRow("TEST-NET-1") << "192.0.2.9" << AddressClass::Reserved;
        QTest::newRow("benchmarking 198.18/15 high") << "198.19.255.1" << AddressClass::Reserved;
        QTest::newRow("just above benchmarking") << "198.20.0.1" << AddressClass::Public;
        QTest::newRow("TEST-NET-3") << "203.0.113.5" << AddressClass::Reserved;
        QTest::newRow("240/4") << "240.0.0.1" << AddressClass::Unusable;
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
        QTest::newRow("private external address: a second router of the player's")
            << answer("10.20.30.40", allMapped) << AdviceKind::DoubleNat << "设为桥接模式";
        QTest::newRow("DS-Lite: the provider's NAT")
            << answer("192.0.0.2", allMapped) << AdviceKind::SharedAddress << "192.0.0.2 是运营商的内部地址";
        QTest::newRow("forwarded here by hand counts as open")
            << answer("11.0.113.1", {PortOutcome::Forwarded, PortOutcome::Mapped, PortOutcome::Mapped})
            << AdviceKind::GiveAddress << "11.0.113.1";
        QTest::newRow("729 is the router's own service")
            << answer("11.0.113.1", {PortOutcome::Mapped, PortOutcome::Conflict, PortOutcome::Mapped}, 729)
            << AdviceKind::RouterService << "UDP 5739 端口被路由器自己的服务占用";
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
            << AdviceKind::Refused << "TCP 11881 端口（代码 606）。请在路由器上开启 UPnP";
        RouterAnswer natpmp = answer("11.0.113.1", {PortOutcome::Refused, PortOutcome::Refused, PortOutcome::Refused}, 2);
        natpmp.refusedBy = "NAT-PMP";
        QTest::newRow("a NAT-PMP refusal gets no UPnP advice") << natpmp << AdviceKind::Refused << "NAT-PMP 打开 TCP 9001 端口（代码 2）";
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

    void peer_data()
    {
        QTest::addColumn<RouterAnswer>("routerAnswer");
        QTest::addColumn<QString>("peer");
        QTest::addColumn<QString>("source");
        QTest::addColumn<AdviceKind>("kind");
        QTest::newRow("the router's own address: both behind it")
            << answer("11.0.113.1") << "11.0.113.1" << "192.168.1.20" << AdviceKind::SameRouter;
        QTest::newRow("a friend outside") << answer("11.0.113.1") << "11.0.113.2" << "192.168.1.20" << AdviceKind::Nothing;
        QTest::newRow("route leaves by a tunnel") << answer("11.0.113.1") << "11.0.113.2" << "10.8.0.6" << AdviceKind::OtherInterface;
        QTest::newRow("no router: nothing known") << RouterAnswer{} << "11.0.113.2" << "10.8.0.6" << AdviceKind::Nothing;
    }
    void peer()
    {
        QFETCH(RouterAnswer, routerAnswer);
        QFETCH(QString, peer);
        QFETCH(QString, source);
        QFETCH(AdviceKind, kind);
        const Advice advice = adviceForPeer(routerAnswer, peer.toStdString(), source.toStdString());
        QCOMPARE(advice.kind, kind);
        if (kind == AdviceKind::SameRouter)
            QVERIFY2(QString::fromStdString(advice.text).contains(QStringLiteral("192.168.1.20")), advice.text.c_str());
    }

    void holder_data()
    {
        QTest::addColumn<QString>("client");
        QTest::addColumn<QString>("description");
        QTest::addColumn<EntryHolder>("expected");
        QTest::newRow("no entry") << "" << "" << EntryHolder::None;
        QTest::newRow("ours, here") << "192.168.1.20" << "Bramblet" << EntryHolder::Ours;
        QTest::newRow("made by hand, here") << "192.168.1.20" << "my game" << EntryHolder::Player;
        QTest::newRow("another program, here, no description") << "192.168.1.20" << "" << EntryHolder::Player;
        QTest::newRow("ours at our old address") << "192.168.1.7" << "Bramblet" << EntryHolder::OursMoved;
        QTest::newRow("another machine's copy of us") << "192.168.1.8" << "Bramblet" << EntryHolder::Elsewhere;
        QTest::newRow("another machine") << "192.168.1.7" << "NAS" << EntryHolder::Elsewhere;
    }
    void holder()
    {
        QFETCH(QString, client);
        QFETCH(QString, description);
        QFETCH(EntryHolder, expected);
        QCOMPARE(entryHolder(client.toStdString(), description.toStdString(), "192.168.1.20", {"192.168.1.7"}), expected);
    }

    void permanentLease_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("tried");
        QTest::addColumn<bool>("retry");
        QTest::newRow("725") << 725 << false << true;
        QTest::newRow("402 once") << 402 << false << true;
        QTest::newRow("501 once") << 501 << false << true;
        QTest::newRow("402 again: no loop") << 402 << true << false;
        QTest::newRow("725 to lease 0: no loop") << 725 << true << false;
        QTest::newRow("718 is no lease matter") << 718 << false << false;
    }
    void permanentLease()
    {
        QFETCH(int, code);
        QFETCH(bool, tried);
        QFETCH(bool, retry);
        QCOMPARE(retryPermanent(code, tried), retry);
    }

    void renewal_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("failures");
        QTest::addColumn<std::uint32_t>("lease");
        QTest::addColumn<std::uint32_t>("delay");
        QTest::addColumn<bool>("search");
        QTest::newRow("answered: half the lease") << true << 0 << 3600u << 1800u << false;
        QTest::newRow("permanent: checked every 25 minutes") << true << 0 << 0u << 1500u << false;
        QTest::newRow("first silence") << false << 1 << 3600u << 30u << false;
        QTest::newRow("second: search again") << false << 2 << 3600u << 60u << true;
        QTest::newRow("then every 2 minutes, never giving up") << false << 40 << 3600u << 120u << true;
    }
    void renewal()
    {
        QFETCH(bool, answered);
        QFETCH(int, failures);
        QFETCH(std::uint32_t, lease);
        QFETCH(std::uint32_t, delay);
        QFETCH(bool, search);
        const RenewalStep step = nextRenewal(answered, failures, lease);
        QCOMPARE(step.delaySeconds, delay);
        QCOMPARE(step.searchAgain, search);
    }

    void record()
    {
        const std::vector<RecordedMapping> made{{"UPnP", LinkPorts[0], "192.168.1.20"}, {"NAT-PMP", LinkPorts[1], "192.168.1.20"}};
        QCOMPARE(parseRecord(formatRecord(made)), made);
        // A damaged record loses only its damaged lines; nothing outside our ports is ever removed.
        QCOMPARE(parseRecord("UPnP TCP 9001 192.168.1.20\nUPnP TCP 22 192.168.1.20\nUPnP UDP 5739\nx y\n" +
                             formatRecord({made[1]})),
                 (std::vector<RecordedMapping>{made[0], made[1]}));
        QCOMPARE(urlHost("http://192.168.77.1:5000/rootDesc.xml"), std::string_view("192.168.77.1"));
    }

    void ufw_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << QByteArray("# comment\nENABLED=yes\nLOGLEVEL=low\n") << true;
        QTest::newRow("quoted, blanks, CRLF") << QByteArray("  ENABLED=\"yes\" \r\n") << true;
        QTest::newRow("disabled") << QByteArray("ENABLED=no\n") << false;
        QTest::newRow("commented out") << QByteArray("#ENABLED=yes\n") << false;
        QTest::newRow("the last one counts") << QByteArray("ENABLED=yes\nENABLED=no\n") << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void ufw()
    {
        QFETCH(QByteArray, conf);
        QFETCH(bool, enabled);
        QCOMPARE(ufwEnabled(conf.toStdString()), enabled);
        QVERIFY(QString::fromStdString(adviceForUfw().text).contains(QStringLiteral("sudo ufw allow 5739/udp")));
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
