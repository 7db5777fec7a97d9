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
        RouterAnswer earlier = answer("11.0.113.1", {PortOutcome::Mapped, PortOutcome::Mapped, PortOutcome::Conflict}, 718);
        earlier.ports[1] = {LinkPorts[1], PortOutcome::HeldByOurEarlier, 718, "192.168.1.7"};
        QTest::newRow("our own earlier forward is no other computer") << earlier << AdviceKind::EarlierForward << "UDP 5739 端口仍转发到本机以前的地址 192.168.1.7";
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

    // Whose UPnP entry it is, as seen from 192.168.1.20 that had 192.168.1.7 before.
    void holder()
    {
        using E = EntryHolder;
        for (const auto &[client, description, expected] : {std::tuple{"", "", E::None}, {"192.168.1.20", "Bramblet", E::Ours},
                                                             {"192.168.1.20", "my game", E::Player}, {"192.168.1.20", "", E::Player},
                                                             {"192.168.1.7", "Bramblet", E::OursMoved}, {"192.168.1.8", "Bramblet", E::Elsewhere},
                                                             {"192.168.1.7", "NAS", E::Elsewhere}})
            QVERIFY2(entryHolder(client, description, "192.168.1.20", {"192.168.1.7"}) == expected, client);
    }

    // 725 switches to lease 0, a 402 or 501 tries it once; never a loop.
    void permanentLease()
    {
        for (const auto &[code, tried, retry] : {std::tuple{725, false, true}, {402, false, true}, {501, false, true},
                                                 {402, true, false}, {725, true, false}, {718, false, false}})
            QVERIFY2(retryPermanent(code, tried) == retry, qPrintable(QString::number(code)));
    }

    // Half the lease when answered, 25 minutes for a permanent one; after silence 30, 60, then
    // 120 s for ever, searching again from the second.
    void renewal()
    {
        for (const auto &[answered, failures, lease, delay, search] :
             {std::tuple{true, 0, 3600u, 1800u, false}, {true, 0, 0u, 1500u, false}, {true, 0, 0xffffffffu, 1800u, false},
              {false, 1, 3600u, 30u, false}, {false, 2, 3600u, 60u, true}, {false, 40, 3600u, 120u, true}}) {
            const RenewalStep step = nextRenewal(answered, failures, lease);
            QVERIFY2(step.delaySeconds == delay && step.searchAgain == search, qPrintable(QString::number(failures)));
        }
        // Our own earlier forward holding a port is asked about again soon, not at half the lease.
        QCOMPARE(nextRenewal(true, 0, 3600u, true).delaySeconds, EarlierForwardRetrySeconds);
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

    void ufw()
    {
        for (const auto &[conf, enabled] : {std::pair{"# comment\nENABLED=yes\nLOGLEVEL=low\n", true}, {"  ENABLED=\"yes\" \r\n", true},
                                            {"ENABLED=no\n", false}, {"#ENABLED=yes\n", false}, {"ENABLED=yes\nENABLED=no\n", false}})
            QVERIFY2(ufwEnabled(conf) == enabled, conf);
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
