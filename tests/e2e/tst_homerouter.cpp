// The program behind a real home router: three network namespaces (LAN, router, WAN), address
// translation by nftables in the router, and miniupnpd serving UPnP IGD and NAT-PMP on the LAN
// side. The namespaces have no route out: nothing leaves the machine.
#include "harness.h"
#include "net/PortMapper.h"
#include "support/FakeNatpmp.h"
#include "support/TempRuntime.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using namespace bramblet::e2e;

namespace {

// Named after this process, so runs from other build trees on the machine keep apart.
const QString kTag = QString::number(::getpid() % 100000);
const QString kLan = QStringLiteral("brl") + kTag, kRouter = QStringLiteral("brr") + kTag, kWan = QStringLiteral("brw") + kTag;
// A second router on the LAN, not the gateway (a repeater, a second box from the provider).
const QString kOther = QStringLiteral("brs") + kTag;
const QString kLanAddress = QStringLiteral("192.168.77.2");
// Outside every reserved range: miniupnpd refuses to forward for a private external address.
const QString kExternal = QStringLiteral("11.0.113.1");
const QString kWanHost = QStringLiteral("11.0.113.2");
const QByteArray kHosts = "127.0.0.1  localhost\n";

// The three forwards to `lan`, as mappings() lists them.
QStringList forwardsTo(const QString &lan)
{
    return {QStringLiteral("TCP 11881->%1:11881").arg(lan), QStringLiteral("TCP 9001->%1:9001").arg(lan),
            QStringLiteral("UDP 5739->%1:5739").arg(lan)};
}

// Puts the test's main thread in network namespace `name` while it lives: a mapper made
// meanwhile works from there (its gateway is read from /proc/self/net, the main thread's view).
class InNamespace {
public:
    explicit InNamespace(const QString &name)
        : here_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)),
          there_(::open(qPrintable(QStringLiteral("/run/netns/") + name), O_RDONLY | O_CLOEXEC)), entered_(::setns(there_, CLONE_NEWNET) == 0)
    {
    }
    ~InNamespace()
    {
        if (entered_ && ::setns(here_, CLONE_NEWNET) != 0)
            qFatal("cannot return to the test's own network namespace");
        ::close(here_);
        ::close(there_);
    }
    InNamespace(const InNamespace &) = delete;
    InNamespace &operator=(const InNamespace &) = delete;
    bool entered() const { return entered_; }

private:
    int here_, there_;
    bool entered_;
};

bool logHas(const QString &log, const QString &kind, const QString &part)
{
    return linesOf(log, kind).join(QLatin1Char('\n')).contains(part);
}

QString findTool(const QString &name)
{
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                                 QStringLiteral("/sbin"), QStringLiteral("/bin")});
}

} // namespace

class TestHomeRouter : public QObject {
    Q_OBJECT

    VirtualDisplay display;
    QTemporaryDir routerDir;
    QProcess miniupnpd;

    bool makeNetwork(QString &why)
    {
        removeNetwork();
        const QString script = QStringLiteral(R"(set -e
L=%1; R=%2; W=%3; S=%7
for n in $L $R $W $S; do ip netns add $n; ip -n $n link set lo up; done
ip link add ${L}v netns $L type veth peer name ${R}l netns $R
ip link add ${L}s netns $L type veth peer name ${S}l netns $S
ip link add ${W}v netns $W type veth peer name ${R}w netns $R
ip -n $S link add ${S}w type veth peer name ${S}x
ip -n $L link add ${L}b type bridge; ip -n $L link set ${L}v master ${L}b; ip -n $L link set ${L}s master ${L}b
ip -n $L addr add %4/24 dev ${L}b
ip -n $R addr add 192.168.77.1/24 dev ${R}l
ip -n $S addr add 192.168.77.254/24 dev ${S}l
ip -n $R addr add %5/24 dev ${R}w
ip -n $S addr add 11.0.114.1/24 dev ${S}w
ip -n $W addr add %6/24 dev ${W}v
for i in $L:${L}v $L:${L}s $L:${L}b $R:${R}l $R:${R}w $W:${W}v $S:${S}l $S:${S}w $S:${S}x; do ip -n ${i%%:*} link set ${i#*:} up; done
ip -n $L route add default via 192.168.77.1
for n in $R $S; do
ip netns exec $n sysctl -qw net.ipv4.ip_forward=1
ip netns exec $n nft -f - <<NFT
table inet filter {
  chain forward { type filter hook forward priority 0; policy drop; ct state established,related accept; iifname "${n}l" accept; jump miniupnpd; }
  chain miniupnpd { }
  chain prerouting { type nat hook prerouting priority -100; policy accept; jump prerouting_miniupnpd; }
  chain postrouting { type nat hook postrouting priority 100; policy accept; jump postrouting_miniupnpd; oifname "${n}w" masquerade; }
  chain prerouting_miniupnpd { }
  chain postrouting_miniupnpd { }
}
NFT
done
)")
                                   .arg(kLan, kRouter, kWan, kLanAddress, kExternal, kWanHost, kOther);
        const CommandResult r = sh(script);
        if (r.exitCode != 0) {
            why = QStringLiteral("cannot make the namespaces: ") + r.output.trimmed();
            removeNetwork();
            return false;
        }
        return true;
    }

    void removeNetwork()
    {
        sh(QStringLiteral("for n in %1 %2 %3 %4; do ip netns del $n 2>/dev/null; done; true").arg(kLan, kRouter, kWan, kOther));
    }

    // miniupnpd in namespace `ns` (the gateway unless told), run by `process` (miniupnpd unless told).
    bool startRouter(bool natpmp = true, const QString &ns = kRouter, QProcess *process = nullptr)
    {
        QProcess &daemon = process ? *process : miniupnpd;
        const auto file = [&](const char *suffix) { return routerDir.filePath(ns + QLatin1String(suffix)); };
        const QString conf = file(".conf");
        const QByteArray text = QStringLiteral("ext_ifname=%1w\nlistening_ip=%1l\nenable_natpmp=%3\nenable_upnp=yes\n"
                                               "secure_mode=yes\nnotify_interval=60\nlease_file=%2\n"
                                               "uuid=3d3cec3a-8cf0-11e0-98ee-001a6bd2d0%4\n"
                                               "allow 1024-65535 192.168.77.0/24 1024-65535\n"
                                               "deny 0-65535 0.0.0.0/0 0-65535\n")
                                    .arg(ns, file(".leases"), natpmp ? QStringLiteral("yes") : QStringLiteral("no"),
                                         ns == kRouter ? QStringLiteral("7b") : QStringLiteral("7c"))
                                    .toUtf8();
        // A router of its own for each test: the forwards an earlier one left are not read back.
        QFile::remove(file(".leases"));
        sh(QStringLiteral("for c in miniupnpd prerouting_miniupnpd postrouting_miniupnpd; do ip netns exec %1 nft flush chain inet filter $c; done")
               .arg(ns));
        if (!writeAll(conf, text))
            return false;
        daemon.setProcessChannelMode(QProcess::MergedChannels);
        daemon.setStandardOutputFile(file(".log"));
        // `ip netns exec` runs miniupnpd in its place, so the PID is the daemon's.
        daemon.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), ns, findTool(QStringLiteral("miniupnpd")),
                                            QStringLiteral("-f"), conf, QStringLiteral("-d"), QStringLiteral("-P"), file(".pid")});
        return daemon.waitForStarted(5000) && waitFor([&] { return readText(file(".log")).contains(QStringLiteral("HTTP listening")); }, 10000);
    }

    void stopRouter(QProcess *process = nullptr)
    {
        endProcess(process ? *process : miniupnpd, 5000);
    }

    // The mappings the router holds, as `upnpc -l` from the LAN lists them: "TCP 9001->192.168.77.2:9001".
    static QStringList mappings()
    {
        const CommandResult r = upnpc({QStringLiteral("-l")});
        // A list that upnpc could not fetch is no empty list: it stands out in any comparison.
        if (r.exitCode != 0 || !r.output.contains(QStringLiteral("ExternalIPAddress = ") + kExternal))
            return {QStringLiteral("upnpc -l failed or saw no router (exit %1): %2").arg(r.exitCode).arg(r.output)};
        QStringList out;
        static const QRegularExpression entry(QStringLiteral("^\\s*\\d+\\s+(TCP|UDP)\\s+(\\d+->[\\d.]+:\\d+)"));
        for (const QString &line : r.output.split(QLatin1Char('\n'))) {
            const QRegularExpressionMatch m = entry.match(line);
            if (m.hasMatch())
                out << m.captured(1) + QLatin1Char(' ') + m.captured(2);
        }
        out.sort();
        return out;
    }

    static CommandResult upnpc(const QStringList &arguments)
    {
        return run(QStringLiteral("ip"), QStringList{QStringLiteral("netns"), QStringLiteral("exec"), kLan,
                                                     findTool(QStringLiteral("upnpc"))} + arguments,
                   20000);
    }

    bool startCopy(ProgramCopy &copy, bool again = false)
    {
        const QString error = again ? QString() : copy.prepare(kHosts);
        if (!error.isEmpty()) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        const int before = linesOf(copy.uiLog(), QStringLiteral("startup")).size();
        return copy.start(kLan, display.name(), {QStringLiteral("BRAMBLET_ROUTER=on")}) &&
               waitFor([&] { return linesOf(copy.uiLog(), QStringLiteral("startup")).size() > before; }, 30000);
    }

    // Types the peer's address over whatever the field holds, and presses a button.
    bool press(const QString &peer, int buttonX)
    {
        const QString window = display.findWindow(kMainTitle);
        return !window.isEmpty() && display.clickAt(window, kFieldX, kFieldY) &&
               display.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}).exitCode == 0 &&
               display.type(window, peer) && display.clickAt(window, buttonX, kButtonY);
    }

    // Presses CANCELL in the connect dialog and waits for it to go.
    bool cancelDialog()
    {
        const QString dialog = display.findWindow(QStringLiteral("OK"));
        return !dialog.isEmpty() && display.clickAt(dialog, 64 + 36, 72 + 12) &&
               waitFor([&] { return display.findWindow(QStringLiteral("OK")).isEmpty(); }, 10000);
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("the home-router test makes network namespaces and needs root");
        for (const char *tool : {"miniupnpd", "nft", "upnpc"})
            if (findTool(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (tools/deps installs it)").arg(QString::fromLatin1(tool))));
        QString why;
        if (!makeNetwork(why))
            QSKIP(qPrintable(why));
        const QString displayError = display.start(200 + int(QRandomGenerator::global()->bounded(80)) * 2, false);
        if (!displayError.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no X display: ") + displayError));
    }

    void cleanupTestCase()
    {
        stopRouter();
        display.stop();
        removeNetwork();
    }

    void withoutRouterThePlayerReadsWhatToForward()
    {
        ProgramCopy server;
        QVERIFY(startCopy(server));
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router"), QStringLiteral("discovered\tnone")); }, 20000),
                 qPrintable(readText(server.uiLog())));
        QVERIFY(press(kWanHost, kServerX));
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("no-router")); }, 20000),
                 qPrintable(readText(server.uiLog())));
        const QString advice = linesOf(server.uiLog(), QStringLiteral("router-line")).last();
        QVERIFY2(advice.contains(QStringLiteral("TCP 9001、UDP 5739、TCP 11881")) && advice.contains(kLanAddress),
                 qPrintable(advice));
        server.stop();
    }

    void behindRouterAClientOnTheInternetLinks()
    {
        QVERIFY(startRouter());
        ProgramCopy server;
        QVERIFY(startCopy(server));
        // The search at start finds the router and shows the address to give.
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("give-address\t请把这个地址告诉对方：") + kExternal); },
                         20000),
                 qPrintable(readText(server.uiLog())));

        // A CLIENT press asks the router for nothing; after three unanswered attempts the
        // player reads the address and port it tries.
        QVERIFY(press(kWanHost, kClientX));
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("client-no-answer")); }, 40000),
                 qPrintable(readText(server.uiLog())));
        QVERIFY(logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("连接 %1 的 TCP 9001 端口").arg(kWanHost)));
        // The address to give, shown at start, went at the press: a CLIENT gives none.
        QVERIFY(logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("cleared")));
        QCOMPARE(mappings(), QStringList());
        QVERIFY(!logHas(server.uiLog(), QStringLiteral("router"), QStringLiteral("opened")));
        QVERIFY(cancelDialog());

        // SERVER: the three ports are forwarded to this machine before anyone connects.
        QVERIFY(press(kWanHost, kServerX));
        const QStringList expected = forwardsTo(kLanAddress);
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router"), QStringLiteral("opened")); }, 20000),
                 qPrintable(readText(server.uiLog())));
        QCOMPARE(mappings(), expected);

        // A CLIENT on the internet side types the router's address and links.
        const CommandResult client = run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), kWan,
                                                                QStringLiteral(BRAMBLET_E2E_BIN_DIR "/e2e_dialogside"),
                                                                QStringLiteral("client"), kExternal, QStringLiteral("60000")},
                                         90000);
        QVERIFY2(client.exitCode == 0, qPrintable(client.output));
        QVERIFY2(client.output.contains(QStringLiteral("PeerAddress=") + kExternal), qPrintable(client.output));
        // The SERVER's game is pointed at its external address, as the CLIENT saw it.
        QVERIFY2(waitFor([&] { return readText(server.hostsPath()).contains(kExternal); }, 20000),
                 qPrintable(readText(server.hostsPath())));
        QCOMPARE(mappings(), expected);

        // The program ends: nothing is left on the router.
        server.process().terminate();
        QVERIFY2(server.waitForExit(20000), qPrintable(server.output()));
        QCOMPARE(server.process().exitCode(), 0);
        QCOMPARE(mappings(), QStringList());
        const CommandResult rules = run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), kRouter,
                                                               QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("ruleset")});
        QVERIFY2(!rules.output.contains(QStringLiteral("dnat")), qPrintable(rules.output));
        stopRouter();
    }

    // UPnP alone; a forward another program made to this machine beforehand; a run killed with
    // its mappings, and the next one.
    void upnpOnlyRouterLeavesOthersAloneAndCleansUpAfterAKill()
    {
        QVERIFY(startRouter(false));
        const QString byHand = QStringLiteral("TCP 11881->192.168.77.2:11881");
        const CommandResult made = upnpc({QStringLiteral("-e"), QStringLiteral("my game"), QStringLiteral("-a"), kLanAddress,
                                          QStringLiteral("11881"), QStringLiteral("11881"), QStringLiteral("TCP"), QStringLiteral("3600")});
        QVERIFY2(mappings() == QStringList{byHand}, qPrintable(made.output));

        ProgramCopy server;
        QVERIFY(startCopy(server));
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router"), QStringLiteral("discovered\tUPnP IGD")); }, 20000),
                 qPrintable(readText(server.uiLog())));

        // The router's own address typed: both players are behind it, and the LAN address is the one to give.
        QVERIFY(press(kExternal, kClientX));
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("same-router")); }, 20000),
                 qPrintable(readText(server.uiLog())));
        QVERIFY(logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("本机的局域网地址 ") + kLanAddress));
        QVERIFY(cancelDialog());

        // A VPN's tunnel carries the way to the friend: the router's forwards are of no use.
        // (A veth pair stands for the tunnel: this kernel has no dummy interfaces.)
        QCOMPARE(sh(QStringLiteral("ip -n %1 link add vpn0 type veth peer name vpn1 && ip -n %1 addr add 10.8.0.6/24 dev vpn0 && "
                                   "ip -n %1 link set vpn1 up && ip -n %1 link set vpn0 up && ip -n %1 route add %2/32 dev vpn0")
                         .arg(kLan, kWanHost)).exitCode, 0);
        QVERIFY(press(kWanHost, kClientX));
        const bool tunnelSaid = waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("other-interface")); }, 20000);
        sh(QStringLiteral("ip -n %1 link del vpn0").arg(kLan));
        QVERIFY2(tunnelSaid, qPrintable(readText(server.uiLog())));
        QVERIFY(cancelDialog());

        QVERIFY(press(kWanHost, kServerX));
        QVERIFY2(waitFor([&] { return logHas(server.uiLog(), QStringLiteral("router"), QStringLiteral("opened\tUPnP IGD")); }, 20000),
                 qPrintable(readText(server.uiLog())));
        QVERIFY2(logHas(server.uiLog(), QStringLiteral("router"), QStringLiteral("TCP 11881 forwarded")), qPrintable(readText(server.uiLog())));
        const QStringList all = forwardsTo(kLanAddress);
        QCOMPARE(mappings(), all);
        QVERIFY(logHas(server.uiLog(), QStringLiteral("router-line"), QStringLiteral("give-address")));

        // Killed: nothing of the program's own ends runs, the mappings stay behind.
        server.process().kill();
        QVERIFY(server.waitForExit(10000));
        QCOMPARE(mappings(), all);

        // The next run removes its own leftovers at start and never the forward made by hand,
        // not even at its close.
        QVERIFY(startCopy(server, true));
        QVERIFY2(waitFor([&] { return mappings() == QStringList{byHand}; }, 20000), qPrintable(mappings().join(u',')));
        server.process().terminate();
        QVERIFY2(server.waitForExit(20000), qPrintable(server.output()));
        QCOMPARE(mappings(), QStringList{byHand});
        stopRouter();
    }

    // The mapper itself on the LAN side, renewing every few hundred ms: a router that answers
    // NAT-PMP but refuses the mapping gets a UPnP try, and a new LAN address is mapped afresh.
    void mapperFollowsTheRouterAndTheLanAddress()
    {
        QVERIFY(startRouter(false));
        bramblet::test::FakeNatpmp refusing;
        refusing.refusedPort = 9001;
        QVERIFY(refusing.serveIn(QStringLiteral("/run/netns/") + kRouter, QStringLiteral("192.168.77.1")));
        bramblet::RouterOptions options;
        options.leaseSeconds = 20;
        options.renewalSecond = std::chrono::milliseconds(10);
        const InNamespace lan(kLan);
        QVERIFY(lan.entered());
        bramblet::RouterPortMapper mapper(options);
        QStringList said;
        mapper.onAnswer = [&](bramblet::IPortMapper::Stage, const bramblet::router::RouterAnswer &a) {
            said << QString::fromStdString(a.method + " " + a.lanAddress + " " + a.refusedBy + " " +
                                           bramblet::router::adviceKindName(bramblet::router::adviceForServer(a, "").kind));
        };
        mapper.openPorts();
        QVERIFY2(QTest::qWaitFor([&] { return !said.isEmpty() && mappings() == forwardsTo(kLanAddress); }, 20000), qPrintable(said.join(u',')));
        QCOMPARE(said.first(), QStringLiteral("UPnP IGD 192.168.77.2  give-address"));
        QCOMPARE(refusing.removals.load(), 2); // what NAT-PMP did grant went back before UPnP mapped

        // DHCP gives this machine another address: our forwards follow it. This router, as most,
        // lets no one but the old address remove the old forwards: they move when their lease
        // ends, and meanwhile no other computer is blamed. The second move comes while the
        // router is out of reach, so the router is searched for afresh.
        const QString ip = QStringLiteral("ip -n %1 ").arg(kLan), route = ip + QStringLiteral("route add default via 192.168.77.1");
        QString at = kLanAddress;
        for (const QString &moved : {QStringLiteral("192.168.77.3"), QStringLiteral("192.168.77.4")}) {
            const qsizetype before = said.size();
            QCOMPARE(sh(ip + QStringLiteral("addr del %1/24 dev %2b").arg(at, kLan)).exitCode, 0);
            if (moved.endsWith(u'4'))
                QVERIFY(QTest::qWaitFor([&] { return said.size() > before + 2 && said.last().startsWith(u' '); }, 20000));
            QCOMPARE(sh(ip + QStringLiteral("addr add %1/24 dev %2b && ").arg(moved, kLan) + route).exitCode, 0);
            QVERIFY2(QTest::qWaitFor([&] { return mappings() == forwardsTo(moved); }, 40000), qPrintable(mappings().join(u',') + said.last()));
            QVERIFY2(said.mid(before).join(u',').contains(QStringLiteral("earlier-forward")), qPrintable(said.mid(before).join(u',')));
            at = moved;
        }
        QVERIFY2(!said.join(u',').contains(QStringLiteral("conflict")), qPrintable(said.join(u',')));
        mapper.shutdown(std::chrono::milliseconds(6000));
        QCOMPARE(mappings(), QStringList());
        sh(ip + QStringLiteral("addr del %1/24 dev %2b; ").arg(at, kLan) + ip + QStringLiteral("addr add %1/24 dev %2b; ").arg(kLanAddress, kLan) + route);
        stopRouter();
    }

    // Two IGDs answer on the LAN: the one on the default gateway is the one asked. Which
    // answers first is chance, so the search is made several times.
    void theGatewaysIgdIsTheOneUsed()
    {
        QProcess other;
        QVERIFY(startRouter(false) && startRouter(false, kOther, &other));
        const InNamespace lan(kLan);
        QVERIFY(lan.entered());
        bramblet::RouterPortMapper mapper;
        QStringList used;
        mapper.onAnswer = [&](bramblet::IPortMapper::Stage, const bramblet::router::RouterAnswer &a) { used << QString::fromStdString(a.externalAddress); };
        for (int i = 0; i < 6; ++i)
            mapper.discover();
        QTRY_COMPARE_WITH_TIMEOUT(used.size(), 6, 60000);
        QCOMPARE(used, QStringList(6, kExternal));
        stopRouter(&other);
        stopRouter();
    }
};

QTEST_GUILESS_MAIN(TestHomeRouter)
#include "tst_homerouter.moc"
