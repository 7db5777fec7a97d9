// The whole link: two copies of the real program, each in its own network namespace with
// its own hosts file, runtime folder, display and tray, driven as two players would, and
// checked from outside.
#include "core/hostsfile.h"
#include "harness.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

using namespace bramblet::e2e;

namespace {

const QString kServerAddress = QStringLiteral("10.77.0.1");
const QString kClientAddress = QStringLiteral("10.77.0.2");
const QByteArray kServerHosts = "127.0.0.1  localhost\n10.1.1.1  nas.home  nas\n";
const QByteArray kClientHosts = "# players' own\n127.0.0.1  localhost\n::1  localhost ip6-localhost\n";



// Each copy sees its private /etc at /etc.
QByteArray redirected(const QString &gateway, const QString &stun, const QByteArray &earlier)
{
    return QByteArray::fromStdString(bramblet::hosts::redirectedHostsContent(
        gateway.toStdString(), stun.toStdString(), bramblet::hosts::HostsStyle{}, earlier.toStdString(), "/etc/hosts.bak"));
}

// tools/demo runs this test with BRAMBLET_DEMO_DIR set: it then keeps screenshots there and
// prints the hosts files and the companion log for a person to read.
QString demoDir() { return qEnvironmentVariable("BRAMBLET_DEMO_DIR"); }

void show(const QString &heading, const QString &text)
{
    if (!demoDir().isEmpty())
        std::printf("\n==== %s ====\n%s", qPrintable(heading), qPrintable(text));
}

// A log for a person: a line holding a large record is cut.
QString readable(const QString &log)
{
    QString out;
    for (const QString &line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out += (line.size() > 160 ? line.left(160) + QStringLiteral("... (%1 characters)").arg(line.size()) : line) +
               QLatin1Char('\n');
    return out;
}

void shoot(const VirtualDisplay &display, const QString &name)
{
    if (!demoDir().isEmpty())
        display.screenshot(demoDir() + QLatin1Char('/') + name + QStringLiteral(".png"));
}

QString summaryFor(const QString &peer) { return QStringLiteral(" 对方真实地址为：") + peer + QStringLiteral("\\n 速度："); }

} // namespace

class TestWholeLink : public QObject {
    Q_OBJECT

    NamespacePair ns{QStringLiteral("wl")};
    VirtualDisplay serverDisplay;
    VirtualDisplay clientDisplay;
    ProgramCopy server, client;

    bool startCopy(ProgramCopy &copy, const QString &nsName, const VirtualDisplay &display, const QByteArray &hosts)
    {
        const QString error = copy.prepare(hosts);
        if (!error.isEmpty()) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        // The router search runs as for a player: inside these namespaces it finds none, and
        // the link must not notice.
        return copy.start(nsName, display.name(), {QStringLiteral("BRAMBLET_ROUTER=on")});
    }

    // The tray icon's window: the program's one small window.
    static QString trayIcon(const VirtualDisplay &display)
    {
        const CommandResult windows = display.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                       QStringLiteral("--class"), QStringLiteral("Bramblet")});
        for (const QString &w : windows.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const CommandResult geo = display.xdotool({QStringLiteral("getwindowgeometry"), w});
            if (geo.output.contains(QRegularExpression(QStringLiteral("Geometry: ([1-4]\\d|[1-9])x"))))
                return w;
        }
        return {};
    }

    // Rests the pointer on the tray icon so its tooltip shows.
    static void hoverTrayIcon(const VirtualDisplay &display)
    {
        const QString icon = trayIcon(display);
        if (icon.isEmpty())
            return;
        display.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("6"),
                         QStringLiteral("6")});
        QThread::msleep(1500);
    }

    // "EXIT-ESCI" from the tray icon's menu: right-click the icon, take the last item.
    static bool exitFromTray(const VirtualDisplay &display)
    {
        const QString icon = trayIcon(display);
        if (icon.isEmpty())
            return false;
        display.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), icon, QStringLiteral("5"),
                         QStringLiteral("5"), QStringLiteral("click"), QStringLiteral("3")});
        QThread::msleep(500);
        display.xdotool({QStringLiteral("key"), QStringLiteral("Up")});
        QThread::msleep(150);
        display.xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        return true;
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("the whole-link test makes network namespaces and needs root");
        const QString error = ns.create(kServerAddress, kClientAddress);
        if (!error.isEmpty())
            QSKIP(qPrintable(error));
        const int base = 200 + int(QRandomGenerator::global()->bounded(80)) * 2;
        QString displayError = serverDisplay.start(base);
        if (displayError.isEmpty())
            displayError = clientDisplay.start(base + 1);
        if (!displayError.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no X display with a tray: ") + displayError));
    }

    void cleanupTestCase()
    {
        server.stop();
        client.stop();
        serverDisplay.stop();
        clientDisplay.stop();
        ns.remove();
    }

    void wholeLink()
    {
        QVERIFY(startCopy(server, ns.a(), serverDisplay, kServerHosts));
        QVERIFY(startCopy(client, ns.b(), clientDisplay, kClientHosts));
        for (ProgramCopy *copy : {&server, &client})
            QVERIFY2(waitFor([&] { return linesOf(copy->uiLog(), QStringLiteral("startup")).contains(QStringLiteral("main-created")); },
                             30000),
                     qPrintable(copy->output()));
        // The first show has asked for the game and shown its help balloon.
        QVERIFY(server.waitForFirstShow(10000));
        QVERIFY(client.waitForFirstShow(10000));
        show(QStringLiteral("SERVER hosts file before"), readText(server.hostsPath()));
        show(QStringLiteral("CLIENT hosts file before"), readText(client.hostsPath()));
        shoot(serverDisplay, QStringLiteral("1-server-main-window"));
        shoot(clientDisplay, QStringLiteral("1-client-main-window"));

        QVERIFY(serverDisplay.enterPeer(serverDisplay.mainWindow(), kClientAddress, kServerX));
        QVERIFY(clientDisplay.enterPeer(clientDisplay.mainWindow(), kServerAddress, kClientX));
        QThread::msleep(3000);
        shoot(serverDisplay, QStringLiteral("2-server-connect-dialog"));
        shoot(clientDisplay, QStringLiteral("2-client-connect-dialog"));

        // Negotiation, ten probes a second apart, the rating: then both hosts files point the
        // game at the SERVER side.
        const QByteArray serverRedirected = redirected(kServerAddress, kServerAddress, kServerHosts);
        const QByteArray clientRedirected = redirected(kServerAddress, kClientAddress, kClientHosts);
        QVERIFY2(waitFor([&] { return readAll(server.hostsPath()) == serverRedirected; }, 60000),
                 readAll(server.hostsPath()).constData());
        QVERIFY2(waitFor([&] { return readAll(client.hostsPath()) == clientRedirected; }, 30000),
                 readAll(client.hostsPath()).constData());
        QCOMPARE(readAll(server.hostsPath() + QStringLiteral(".bak")), kServerHosts);
        QCOMPARE(readAll(client.hostsPath() + QStringLiteral(".bak")), kClientHosts);
        // The machine's own names still resolve from the earlier lines, the game's from ours.
        // -r: the program's root too, or a run inside a chroot would read the machine's files.
        const CommandResult lookup = sh(QStringLiteral("nsenter -t %1 -m -r getent hosts nas.home %2")
                                            .arg(server.pid())
                                            .arg(QString::fromLatin1(bramblet::hosts::kGatewayHostName)));
        const QString answers = lookup.output.simplified();
        QVERIFY2(answers.contains(QStringLiteral("10.1.1.1 nas.home nas")) &&
                     answers.contains(kServerAddress + u' ' + QString::fromLatin1(bramblet::hosts::kGatewayHostName)),
                 qPrintable(lookup.output));
        show(QStringLiteral("SERVER hosts file during the link"), readText(server.hostsPath()));
        show(QStringLiteral("CLIENT hosts file during the link"), readText(client.hostsPath()));
        QThread::msleep(1500);
        shoot(serverDisplay, QStringLiteral("3-server-connected-balloon"));
        shoot(clientDisplay, QStringLiteral("3-client-connected-balloon"));

        // The SERVER told the library both ends, with the CLIENT's real UDP port.
        QVERIFY(waitFor([&] { return readText(server.companionLog()).contains(QStringLiteral("MessageF")); }, 5000));
        QVERIFY2(readText(server.companionLog())
                     .contains(QStringLiteral("MessageF\town=10.77.0.1\townPort=5739\tpeer=10.77.0.2\tpeerPort=5739")),
                 qPrintable(readText(server.companionLog())));
        QVERIFY(!readText(client.companionLog()).contains(QStringLiteral("MessageF")));

        // Both local servers run with the local address.
        QVERIFY(waitFor([&] { return readText(server.companionLog()).contains(QStringLiteral("arg4=10.77.0.1")); }, 10000));
        QVERIFY(waitFor([&] { return readText(client.companionLog()).contains(QStringLiteral("arg4=10.77.0.2")); }, 10000));

        // The tray hint carries the link summary; the connected balloon follows.
        QVERIFY(linesOf(server.uiLog(), QStringLiteral("hint")).value(0).startsWith(summaryFor(kClientAddress)));
        QVERIFY(linesOf(client.uiLog(), QStringLiteral("hint")).value(0).startsWith(summaryFor(kServerAddress)));
        for (ProgramCopy *copy : {&server, &client})
            QVERIFY(waitFor([&] { return linesOf(copy->uiLog(), QStringLiteral("balloon")).join(QLatin1Char('\n')).contains(QStringLiteral("连接成功")); },
                            10000));
        QVERIFY(linesOf(server.uiLog(), QStringLiteral("hint")).value(0).split(QStringLiteral("\\n")).size() == 4);
        if (!demoDir().isEmpty()) {
            hoverTrayIcon(serverDisplay);
            shoot(serverDisplay, QStringLiteral("4-server-tray-hint"));
            hoverTrayIcon(clientDisplay);
            shoot(clientDisplay, QStringLiteral("4-client-tray-hint"));
        }
        show(QStringLiteral("SERVER tray hint"), linesOf(server.uiLog(), QStringLiteral("hint")).value(0).replace(QStringLiteral("\\n"), QStringLiteral("\n")) + QLatin1Char('\n'));
        show(QStringLiteral("CLIENT tray hint"), linesOf(client.uiLog(), QStringLiteral("hint")).value(0).replace(QStringLiteral("\\n"), QStringLiteral("\n")) + QLatin1Char('\n'));

        // A player's records on the SERVER's channel.
        const CommandResult player = run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), ns.b(),
                                                                QStringLiteral(BRAMBLET_PLAYERCLIENT), kServerAddress,
                                                                QStringLiteral("11881")},
                                         30000);
        QCOMPARE(player.exitCode, 0);
        QVERIFY2(player.output.contains(QStringLiteral("first closed by peer: yes")), qPrintable(player.output));
        QVERIFY(waitFor([&] { return readText(server.companionLog()).count(QStringLiteral("ResetPlayer")) >= 3; }, 10000));
        QStringList calls;
        for (const QString &line : readText(server.companionLog()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line.startsWith(QStringLiteral("MessageE")))
                calls << line.section(QLatin1Char('\t'), 2, 2); // length=N
            else if (line.startsWith(QStringLiteral("ResetPlayer")))
                calls << QStringLiteral("reset");
        }
        QCOMPARE(calls, QStringList({QStringLiteral("length=5"), QStringLiteral("length=0"), QStringLiteral("length=3"),
                                     QStringLiteral("length=65535"), QStringLiteral("reset"), QStringLiteral("reset"),
                                     QStringLiteral("length=3"), QStringLiteral("reset")}));
        // The split record arrives whole and unscrambled: flag 1, command 7, length 5, "hello".
        QVERIFY(readText(server.companionLog())
                    .contains(QStringLiteral("record=01070005") + QString(40, QLatin1Char('0')) + QStringLiteral("68656c6c6f")));

        // "EXIT-ESCI" on both: the hosts files come back byte for byte, the local servers end.
        QVERIFY(exitFromTray(serverDisplay));
        QVERIFY(exitFromTray(clientDisplay));
        QVERIFY2(server.waitForExit(30000), qPrintable(server.output()));
        QVERIFY2(client.waitForExit(30000), qPrintable(client.output()));
        QCOMPARE(server.process().exitCode(), 0);
        QCOMPARE(client.process().exitCode(), 0);
        QCOMPARE(readAll(server.hostsPath()), kServerHosts);
        QCOMPARE(readAll(client.hostsPath()), kClientHosts);
        QVERIFY(!QFile::exists(server.hostsPath() + QStringLiteral(".bak")));
        QVERIFY(!QFile::exists(client.hostsPath() + QStringLiteral(".bak")));
        QVERIFY(readText(server.companionLog()).contains(QStringLiteral("end=SIGTERM")));
        QVERIFY(readText(client.companionLog()).contains(QStringLiteral("end=SIGTERM")));
        show(QStringLiteral("SERVER hosts file after EXIT-ESCI"), readText(server.hostsPath()));
        show(QStringLiteral("CLIENT hosts file after EXIT-ESCI"), readText(client.hostsPath()));
        show(QStringLiteral("SERVER companion log"), readable(readText(server.companionLog())));
        show(QStringLiteral("CLIENT companion log"), readable(readText(client.companionLog())));
        for (ProgramCopy *copy : {&server, &client})
            for (const QString &box : linesOf(copy->uiLog(), QStringLiteral("box")))
                QVERIFY2(!box.contains(QStringLiteral("\terror\t")), qPrintable(box));
    }
};

QTEST_GUILESS_MAIN(TestWholeLink)
#include "tst_wholelink.moc"
