// The player's firewalld, for real: a firewalld on a private system bus in mount and network
// namespaces of its own (firewalldlab.sh), asked as the program asks it.
#include "app/Firewalld.h"
#include "app/InterfaceLog.h"
#include "net/PortMapper.h"
#include "support/InProcessHostsGuard.h"
#include "support/MainWindowRig.h"
#include "support/ProgramCopy.h"

#include <QDBusMessage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace bramblet;

namespace {

// A router that grants everything at once: the window then asks firewalld, and says what
// the router allows.
class GrantingRouter : public QObject, public IPortMapper {
public:
    bool searching = false; // its search has not answered yet
    void discover() override { searching ? void() : answer(Stage::Discovered); }
    void openPorts() override { answer(Stage::Opened); }
    void closePorts() override {}
    void shutdown(std::chrono::milliseconds) override {}

private:
    void answer(Stage stage)
    {
        QTimer::singleShot(0, this, [this, stage] {
            // Whatever leads to the friend here counts as the router's side: no VPN advice.
            router::RouterAnswer a;
            a.answered = true;
            a.method = "UPnP IGD";
            a.externalAddress = "11.0.113.1";
            a.lanAddress = sourceAddressTowards("11.0.113.2");
            for (const router::LinkPort &port : router::LinkPorts)
                a.ports.push_back({port, router::PortOutcome::Mapped, 0});
            if (onAnswer)
                onAnswer(stage, a);
        });
    }
};

struct LogLines : IInterfaceLog {
    QStringList lines;
    void write(const QString &kind, const QStringList &fields) override { lines << (QStringList{kind} + fields).join(u'\t'); }
};

} // namespace

class TestFirewalld : public QObject {
    Q_OBJECT

    QTemporaryDir lab_;
    QProcess labProcess_;
    QString busAddress_;

    QDBusConnection bus() const { return QDBusConnection(QStringLiteral("firewalld-lab")); }

    // Asks firewalld directly, as the player at a terminal would.
    bool zoneCall(const QString &method, const QVariantList &arguments)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.fedoraproject.FirewallD1"), QStringLiteral("/org/fedoraproject/FirewallD1"),
                                                        QStringLiteral("org.fedoraproject.FirewallD1.zone"), method);
        m.setArguments(arguments);
        const QDBusMessage reply = bus().call(m, QDBus::Block, 10000);
        return reply.type() == QDBusMessage::ReplyMessage && (method != QLatin1String("queryPort") || reply.arguments().value(0).toBool());
    }

    // What FirewalldPorts::check says about fwl0, once it has answered.
    static std::pair<FirewalldPorts::State, QString> check(FirewalldPorts &firewall)
    {
        std::optional<std::pair<FirewalldPorts::State, QString>> out;
        firewall.check(QStringLiteral("fwl0"), [&out](FirewalldPorts::State state, const QString &zone) { out.emplace(state, zone); });
        return QTest::qWaitFor([&] { return out.has_value(); }, 15000) ? *out : std::pair{FirewalldPorts::State::Absent, QStringLiteral("(no answer)")};
    }

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("the firewalld test makes namespaces and needs root");
        if (QStandardPaths::findExecutable(QStringLiteral("firewalld"), {QStringLiteral("/usr/sbin")}).isEmpty())
            QSKIP("firewalld is not installed (tools/deps installs it)");
        labProcess_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        labProcess_.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("-n"), QStringLiteral("sh"),
                                                     QStringLiteral(BRAMBLET_SOURCE_DIR "/tests/app/firewalldlab.sh"),
                                                     lab_.path()});
        QVERIFY(labProcess_.waitForStarted(5000));
        QByteArray said;
        for (int i = 0; i < 400 && !said.contains("ready") && labProcess_.state() == QProcess::Running; ++i) {
            labProcess_.waitForReadyRead(100);
            said += labProcess_.readAllStandardOutput();
        }
        QVERIFY2(said.contains("ready"), said.constData());
        QDBusConnection::connectToBus(QStringLiteral("unix:path=") + lab_.filePath(QStringLiteral("bus")),
                                      QStringLiteral("firewalld-lab"));
        QVERIFY2(bus().isConnected(), qPrintable(bus().lastError().message()));
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("firewalld-lab"));
        labProcess_.closeWriteChannel();
        if (!labProcess_.waitForFinished(10000))
            test::endProcess(labProcess_, 5000); // the lab ends what it started
    }

    void opensForTheLinkAndClosesOnlyWhatItOpened()
    {
        FirewalldPorts firewall(bus());
        // fwl0 has no zone of its own: the default one counts.
        QCOMPARE(check(firewall), std::pair(FirewalldPorts::State::Closed, QStringLiteral("public")));
        // The player opened one of the ports already: it stays open after the link.
        QVERIFY(zoneCall(QStringLiteral("addPort"), {QStringLiteral("public"), QStringLiteral("11881"), QStringLiteral("tcp"), 0}));

        std::optional<bool> opened;
        firewall.open(QStringLiteral("public"), 600, [&](bool all) { opened = all; });
        QTRY_VERIFY_WITH_TIMEOUT(opened.has_value(), 15000);
        QVERIFY(*opened);
        QCOMPARE(check(firewall).first, FirewalldPorts::State::Open);

        firewall.close();
        QTRY_VERIFY_WITH_TIMEOUT(!zoneCall(QStringLiteral("queryPort"), {QStringLiteral("public"), QStringLiteral("9001"), QStringLiteral("tcp")}), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!zoneCall(QStringLiteral("queryPort"), {QStringLiteral("public"), QStringLiteral("5739"), QStringLiteral("udp")}), 10000);
        QVERIFY(zoneCall(QStringLiteral("queryPort"), {QStringLiteral("public"), QStringLiteral("11881"), QStringLiteral("tcp")}));

        // Runtime only, with a timeout: what a killed program opened closes on its own.
        opened.reset();
        firewall.open(QStringLiteral("public"), 2, [&](bool all) { opened = all; });
        QTRY_VERIFY_WITH_TIMEOUT(opened.value_or(false), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!zoneCall(QStringLiteral("queryPort"), {QStringLiteral("public"), QStringLiteral("9001"), QStringLiteral("tcp")}), 15000);
    }

    // A SERVER press through the window: the player is asked; yes opens the three ports for
    // the dialog's length, no puts the command in the advice line.
    void serverPressAsks_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QString>("end");
        QTest::newRow("yes, then cancelled") << true << "cancel";
        QTest::newRow("yes, cancelled before firewalld answered") << true << "at once";
        QTest::newRow("yes, cancelled before firewalld answered, pressed again") << true << "again";
        QTest::newRow("yes, then the window closes") << true << "close";
        QTest::newRow("yes, pressed before the router's search answered") << true << "early";
        QTest::newRow("no: the command to run") << false << "cancel";
    }
    void serverPressAsks()
    {
        QFETCH(bool, yes);
        QFETCH(QString, end);
        QTemporaryDir dir;
        QFile hosts(dir.filePath(QStringLiteral("hosts")));
        QVERIFY(hosts.open(QIODevice::WriteOnly) && hosts.write("127.0.0.1  localhost\n") > 0);
        hosts.close();
        test::MainWindowRig rig;
        GrantingRouter router;
        router.searching = end == QLatin1String("early");
        FirewalldPorts firewall(bus());
        LogLines log;
        rig.fakeDialog();
        rig.messages.answer = yes;
        rig.services.interfaceLog = &log;
        rig.services.hostsGuard = test::hostsGuardOn(hosts.fileName());
        rig.services.portMapper = &router;
        rig.services.firewall = &firewall;
        rig.make();
        zoneCall(QStringLiteral("removePort"), {QStringLiteral("public"), QStringLiteral("11881"), QStringLiteral("tcp")}); // the player's, from above
        QTRY_VERIFY_WITH_TIMEOUT(router.searching || log.lines.contains(QStringLiteral("firewall\tclosed\tpublic")), 15000);

        const auto open = [this](const router::LinkPort &port) {
            return zoneCall(QStringLiteral("queryPort"), {QStringLiteral("public"), QString::number(port.port),
                                                          QString::fromLatin1(router::protocolName(port.protocol)).toLower()});
        };
        const auto allOpen = [&] { return std::all_of(router::LinkPorts.begin(), router::LinkPorts.end(), open); };
        rig.dialog->results.ResultCode = -1;
        rig.dialog->onShow = [&] {
            // The dialog's own loop runs meanwhile, as the real one's does.
            QVERIFY(!yes || end == QLatin1String("at once") || end == QLatin1String("again") || QTest::qWaitFor(allOpen, 15000));
            if (end == QLatin1String("close"))
                rig.form->close();
        };
        rig.form->EditRemoteIp->setText(QStringLiteral("11.0.113.2"));
        QTest::mouseClick(rig.form->ButtonServer, Qt::LeftButton);
        if (end == QLatin1String("again")) { // the first round's late adds must not close what the second wants
            const auto bothAnswered = [&] { return log.lines.count(QStringLiteral("firewall\topened\tpublic")) == 2; };
            rig.dialog->onShow = [&] { QVERIFY(QTest::qWaitFor(bothAnswered, 15000) && allOpen()); };
            QTest::mouseClick(rig.form->ButtonServer, Qt::LeftButton);
        }
        QCOMPARE(rig.messages.questions.size(), end == QLatin1String("again") ? 2 : 1);
        QVERIFY(rig.messages.boxes.isEmpty());
        if (!yes)
            QTRY_VERIFY2(rig.form->RouterLine->text().contains(QString::fromStdString(router::firewalldCommand("public"))),
                         qPrintable(rig.form->RouterLine->text()));
        if (end == QLatin1String("at once"))
            QTRY_VERIFY_WITH_TIMEOUT(log.lines.contains(QStringLiteral("firewall\topened\tpublic")), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(router::LinkPorts.begin(), router::LinkPorts.end(), open), 10000);
    }

    void noSystemBusIsNoFirewalld()
    {
        FirewalldPorts firewall(QDBusConnection(QStringLiteral("no-such-bus")));
        QCOMPARE(check(firewall).first, FirewalldPorts::State::Absent);
    }
};

QTEST_MAIN(TestFirewalld)
#include "tst_firewalld.moc"
