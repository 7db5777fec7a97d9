// The player's firewalld, for real: a firewalld on a private system bus in mount and network
// namespaces of its own (firewalldlab.sh), asked as the program asks it.
#include "app/Firewalld.h"

#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace bramblet;

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
        if (labProcess_.state() == QProcess::NotRunning)
            return;
        labProcess_.closeWriteChannel();
        if (!labProcess_.waitForFinished(10000)) {
            labProcess_.kill();
            labProcess_.waitForFinished(3000);
        }
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
    }

    void noSystemBusIsNoFirewalld()
    {
        FirewalldPorts firewall(QDBusConnection(QStringLiteral("no-such-bus")));
        QCOMPARE(check(firewall).first, FirewalldPorts::State::Absent);
    }
};

QTEST_GUILESS_MAIN(TestFirewalld)
#include "tst_firewalld.moc"
