// The real program ended by the signals of a desktop session while a link's redirection is
// in place: the same close as "EXIT-ESCI", once, and a normal exit. The program and its
// hosts guard run in a mount namespace whose /etc is an overlay of the test's own, so the
// hosts file they change is the test's. The link is a real one: the program is SERVER in a
// network namespace of its own, a connect dialog the CLIENT in another.
#include "harness.h"
#include "core/hostsfile.h"
#include "platform/hostsfile.h"
#include "support/TestText.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using namespace bramblet;
using namespace bramblet::test;
using bramblet::e2e::NamespacePair;
using bramblet::e2e::VirtualDisplay;

namespace {

const QByteArray kOriginal = "# before the link\n127.0.0.1\tlocalhost\n10.0.0.9 printer\n";
const QString kServerAddress = QStringLiteral("10.76.0.1");
const QString kPeerAddress = QStringLiteral("10.76.0.2");

enum class When { Splash, Window };

} // namespace

Q_DECLARE_METATYPE(When)

class TestSessionEnd : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_;
    NamespacePair ns_{QStringLiteral("se")};
    VirtualDisplay display_;

    // The program as SERVER of a real link with a connect dialog as CLIENT: returns once its
    // hosts file reads redirected and its local server has started.
    QString link(ProgramCopy &copy, QProcess &peer, int serverEndDelayMs)
    {
        const QString why = copy.prepare(kOriginal);
        if (!why.isEmpty())
            return why;
        if (!copy.start(ns_.a(), display_.name(),
                        {QStringLiteral("BRAMBLET_OSTREL_END_DELAY_MS=") + QString::number(serverEndDelayMs)}))
            return QStringLiteral("the program cannot be started");
        if (!copy.waitForFirstShow(30000))
            return QStringLiteral("the program did not come up: ") + copy.output();
        peer.setProcessChannelMode(QProcess::MergedChannels);
        peer.start(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("exec"), ns_.b(),
                                          QStringLiteral(BRAMBLET_E2E_BIN_DIR "/e2e_dialogside"), QStringLiteral("client"),
                                          kServerAddress, QStringLiteral("60000")});
        if (!display_.enterPeer(display_.mainWindow(), kPeerAddress, e2e::kServerX))
            return QStringLiteral("SERVER cannot be pressed");
        if (!waitFor([&] { return readAll(copy.hostsPath()).contains(kServerAddress.toLatin1() + "  " + hosts::kGatewayHostName) &&
                                  readAll(copy.companionLog()).contains("Ostrel\tpid="); },
                     60000))
            return QStringLiteral("no link: ") + QString::fromUtf8(readAll(copy.uiLog()) + peer.readAll());
        return {};
    }

    // Only a program this test started and that still runs: an ended QProcess reports process
    // id 0, and kill(0, …) would signal the test's whole process group.
    static bool signal(QProcess &p, int number)
    {
        const pid_t pid = pid_t(p.processId());
        return p.state() == QProcess::Running && pid > 0 && ::kill(pid, number) == 0;
    }

private slots:
    void initTestCase()
    {
        const QString why = privateEtcUnavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        QVERIFY(scratch_.isValid());
        QString error = ns_.create(kServerAddress, kPeerAddress);
        if (error.isEmpty())
            error = display_.start(400 + int(QRandomGenerator::global()->bounded(80)) * 2);
        if (!error.isEmpty())
            QSKIP(qPrintable(error));
    }

    void cleanupTestCase()
    {
        display_.stop();
        ns_.remove();
    }

    void signalClosesOnce_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<When>("when");
        QTest::newRow("SIGTERM (kill, shutdown)") << SIGTERM << 0 << When::Window;
        QTest::newRow("SIGINT (Ctrl+C)") << SIGINT << 0 << When::Window;
        QTest::newRow("SIGHUP (terminal or session gone)") << SIGHUP << 0 << When::Window;
        QTest::newRow("SIGTERM during the splash") << SIGTERM << 0 << When::Splash;
        QTest::newRow("two SIGTERMs, the second during the close") << SIGTERM << SIGTERM << When::Window;
        QTest::newRow("SIGHUP, then SIGINT during the close") << SIGHUP << SIGINT << When::Window;
    }
    void signalClosesOnce()
    {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(When, when);
        ProgramCopy copy;
        QProcess peer;
        if (when == When::Window) {
            // A slow server keeps the close in its last step: long enough for a second signal,
            // and to see the hosts file put back by the close itself, before the guard would
            // at the program's end.
            const QString why = link(copy, peer, 1500);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        } else {
            QCOMPARE(copy.prepare(kOriginal), QString());
            QVERIFY(copy.start(ns_.a(), display_.name()));
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copy.runtimeDir() + QStringLiteral("/TBrambletMainForm.lock")), 30000);
        }
        QVERIFY(signal(copy.process(), first));
        if (when == When::Window) {
            QTRY_VERIFY_WITH_TIMEOUT(linesOf(copy.uiLog(), QStringLiteral("close")).contains(QStringLiteral("stop-local-server")), 30000);
            QVERIFY(copy.process().state() == QProcess::Running);
            QCOMPARE(readAll(copy.hostsPath()), kOriginal);
        }
        // The program may have ended already; then there is nothing left to signal.
        if (second)
            signal(copy.process(), second);
        QVERIFY(copy.process().waitForFinished(30000));
        QCOMPARE(copy.process().exitStatus(), QProcess::NormalExit);
        QVERIFY2(copy.process().exitCode() == 0, qPrintable(copy.output()));
        if (when == When::Window) {
            // The close waited for the server to end, a second signal notwithstanding.
            QVERIFY2(logLines(copy.companionLog()).last().endsWith("\tend=SIGTERM"), readAll(copy.companionLog()).constData());
        }
        QCOMPARE(linesOf(copy.uiLog(), QStringLiteral("close")), strings({"restore", "dialog", "stop-local-server"}));
        // Nothing went wrong on the way: no error box.
        for (const QString &box : linesOf(copy.uiLog(), QStringLiteral("box")))
            QVERIFY2(!box.contains(QStringLiteral("\terror\t")), qPrintable(box));
        QCOMPARE(readAll(copy.hostsPath()), kOriginal);
        QCOMPARE(QDir(copy.etcDir()).entryList(QDir::Files), QStringList{QStringLiteral("hosts")});
    }

    void restoreThatFailsKeepsTheBackup()
    {
        // Only a machine that cannot remount the private /etc read-only skips; a program that
        // then fails to run fails the test.
        QProcess probe;
        QVERIFY(makePrivateEtc(scratch_.filePath(QStringLiteral("probe"))));
        startWithPrivateEtc(probe, scratch_.filePath(QStringLiteral("probe")), {QStringLiteral("true")},
                            QStringLiteral("mount -o remount,bind,ro /etc"));
        if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
            QSKIP(qPrintable(QStringLiteral("no read-only mount here: ") + QString::fromLocal8Bit(probe.readAllStandardError())));
        // A link's redirection as the link start leaves it, and the local server running.
        ProgramCopy copy;
        QCOMPARE(copy.prepare(kOriginal), QString());
        hosts::HostsRedirect redirect(copy.hostsPath().toStdString(), platform::hostsStyle(), platform::hostsFileOps());
        redirect.setGameIp("192.0.2.1", "198.51.100.7");
        const QByteArray redirected = readAll(copy.hostsPath());
        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BRAMBLET_COMPANION_LOG"), copy.companionLog());
        server.setProcessEnvironment(env);
        server.start(copy.programDir() + QStringLiteral("/Lib/Ostrel"),
                     {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-a"), QStringLiteral("198.51.100.7")});
        QTRY_COMPARE(logLines(copy.companionLog()).size(), 1);

        // In this run the file system under the hosts file turns read-only.
        QVERIFY(copy.start({}, {}, {}, QStringLiteral("mount -o remount,bind,ro /etc")));
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(copy.uiLog(), QStringLiteral("startup")).contains(QStringLiteral("main-created")) ||
                                     copy.process().state() == QProcess::NotRunning,
                                 30000);
        QVERIFY2(copy.process().state() == QProcess::Running, qPrintable(copy.output()));
        QVERIFY(signal(copy.process(), SIGTERM));
        QVERIFY(copy.process().waitForFinished(30000));
        QCOMPARE(copy.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(copy.process().exitCode(), 0);

        QStringList said = copy.output().split(QLatin1Char('\n')).filter(QStringLiteral("hosts"));
        QVERIFY2(said.size() == 1, qPrintable(copy.output()));
        QVERIFY2(said.first().contains(QStringLiteral("backup was kept")) && said.first().contains(QStringLiteral("Read-only file system")),
                 qPrintable(said.first()));
        QCOMPARE(readAll(copy.hostsPath()), redirected);
        QCOMPARE(readAll(copy.hostsPath() + QStringLiteral(".bak")), kOriginal);
        // The other steps still ran.
        QCOMPARE(linesOf(copy.uiLog(), QStringLiteral("close")), strings({"restore", "dialog", "stop-local-server"}));
        QVERIFY(server.waitForFinished(10000));

        // The next start and close put it back.
        QFile::remove(copy.uiLog());
        QVERIFY(copy.start({}, {}, {}, QString()));
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(copy.uiLog(), QStringLiteral("startup")).contains(QStringLiteral("main-created")), 30000);
        QVERIFY(signal(copy.process(), SIGTERM));
        QVERIFY(copy.process().waitForFinished(30000));
        QCOMPARE(copy.process().exitCode(), 0);
        QCOMPARE(readAll(copy.hostsPath()), kOriginal);
        QCOMPARE(QDir(copy.etcDir()).entryList(QDir::Files), QStringList{QStringLiteral("hosts")});
    }
};

QTEST_GUILESS_MAIN(TestSessionEnd)
#include "tst_sessionend.moc"
