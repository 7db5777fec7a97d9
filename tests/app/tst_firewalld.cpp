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
    bool portOpen(const QString &port, const QString &protocol)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.fedoraproject.FirewallD1"),
                                                        QStringLiteral("/org/fedoraproject/FirewallD1"),
                                                        QStringLiteral("org.fedoraproject.FirewallD1.zone"),
                                                        QStringLiteral("queryPort"));
        m.setArguments({QStringLiteral("public"), port, protocol});
        const QDBusMessage reply = bus().call(m, QDBus::Block, 10000);
        return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
    }

    struct Checked {
        bool done = false;
        FirewalldPorts::State state = FirewalldPorts::State::Absent;
        QString zone;
    };
    static void check(FirewalldPorts &firewall, Checked &out)
    {
        out = {};
        firewall.check(QStringLiteral("fwl0"), [&out](FirewalldPorts::State state, const QString &zone) {
            out = {true, state, zone};
        });
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
        Checked checked;
        check(firewall, checked);
        QTRY_VERIFY_WITH_TIMEOUT(checked.done, 15000);
        QCOMPARE(checked.state, FirewalldPorts::State::Closed);
        QCOMPARE(checked.zone, QStringLiteral("public")); // fwl0 has no zone: the default one counts

        // The player opened one of the ports already: it stays open after the link.
        QDBusMessage add = QDBusMessage::createMethodCall(QStringLiteral("org.fedoraproject.FirewallD1"),
                                                          QStringLiteral("/org/fedoraproject/FirewallD1"),
                                                          QStringLiteral("org.fedoraproject.FirewallD1.zone"),
                                                          QStringLiteral("addPort"));
        add.setArguments({QStringLiteral("public"), QStringLiteral("11881"), QStringLiteral("tcp"), 0});
        QCOMPARE(bus().call(add, QDBus::Block, 10000).type(), QDBusMessage::ReplyMessage);

        std::optional<bool> opened;
        firewall.open(checked.zone, 600, [&](bool all) { opened = all; });
        QTRY_VERIFY_WITH_TIMEOUT(opened.has_value(), 15000);
        QVERIFY(*opened);
        check(firewall, checked);
        QTRY_VERIFY_WITH_TIMEOUT(checked.done, 15000);
        QCOMPARE(checked.state, FirewalldPorts::State::Open);

        firewall.close();
        QTRY_VERIFY_WITH_TIMEOUT(!portOpen(QStringLiteral("9001"), QStringLiteral("tcp")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!portOpen(QStringLiteral("5739"), QStringLiteral("udp")), 10000);
        QVERIFY(portOpen(QStringLiteral("11881"), QStringLiteral("tcp")));
    }

    void noFirewalldIsNothingToSay()
    {
        FirewalldPorts firewall(QDBusConnection(QStringLiteral("no-such-bus")));
        Checked checked;
        check(firewall, checked);
        QTRY_VERIFY_WITH_TIMEOUT(checked.done, 15000);
        QCOMPARE(checked.state, FirewalldPorts::State::Absent);
    }
};

QTEST_GUILESS_MAIN(TestFirewalld)
#include "tst_firewalld.moc"
