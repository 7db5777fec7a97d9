// The program as a player's own user with the real polkit: a private system bus and polkitd
// in a mount namespace of their own, a rule that lets one test user run the hosts guard and
// refuses another. The GUI completes a SERVER link as the first user and is killed; as the
// second it warns at its first show and reports the failed link start.
#include "harness.h"
#include "support/TempRuntime.h"

#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace bramblet::e2e;

namespace {

const QString kMainTitle = QStringLiteral("Quorrel2008 Online v.4");
const QByteArray kOriginal = "127.0.0.1\tlocalhost\n127.0.1.1  lab\n# the machine's own\n";
const QString kNotAdministrator = QStringLiteral("当前操作系统用户不是管理员帐户");

struct TestUser {
    QString name;
    uid_t uid;
};
const TestUser kAllowed{QStringLiteral("brambletok"), 61071};
const TestUser kRefused{QStringLiteral("brambletno"), 61072};

bool appendFrom(const QString &from, const QString &to, const QByteArray &more)
{
    return writeBytes(to, readBytes(from) + more);
}

QStringList boxes(const QString &uiLog)
{
    QStringList out;
    for (const QString &line : readText(uiLog).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(QStringLiteral("box\t")))
            out << line;
    return out;
}

// Real, effective, saved and file-system user of a process, from /proc.
QString uids(qint64 pid)
{
    for (const QString &line : readText(QStringLiteral("/proc/%1/status").arg(pid)).split(QLatin1Char('\n')))
        if (line.startsWith(QStringLiteral("Uid:")))
            return line.mid(4).simplified();
    return {};
}

} // namespace

class TestPolkitLink : public QObject {
    Q_OBJECT

    QTemporaryDir lab;
    QProcess machine;
    VirtualDisplay display;

    QString upper() const { return lab.filePath(QStringLiteral("etc")); }
    QString hostsPath() const { return upper() + QStringLiteral("/hosts"); }

    // One command to the lab machine and its answer, empty when none came.
    QString ask(const QString &line)
    {
        machine.write((line + QLatin1Char('\n')).toUtf8());
        if (!waitFor([&] { machine.waitForReadyRead(100); return machine.canReadLine(); }, 15000))
            return {};
        return QString::fromUtf8(machine.readLine()).trimmed();
    }
    // The process number a command answers, or 0.
    qint64 command(const QString &line)
    {
        const QString answer = ask(line);
        return answer.startsWith(QStringLiteral("pid ")) ? answer.mid(4).toLongLong() : 0;
    }

    // The GUI as `user` in the SERVER's namespace, with a home, runtime folder and logs of its own.
    qint64 startGui(const TestUser &user, QString &uiLog)
    {
        const QString home = lab.filePath(user.name);
        QDir().mkpath(home + QStringLiteral("/run"));
        uiLog = home + QStringLiteral("/ui.log");
        const QString env = home + QStringLiteral("/env");
        writeBytes(env, QStringLiteral("HOME=%1 XDG_RUNTIME_DIR=%1/run BRAMBLET_UI_LOG=%2 BRAMBLET_COMPANION_LOG=%1/companion.log "
                                       "QT_QPA_PLATFORM=xcb LANG=C.UTF-8 ASAN_OPTIONS=detect_leaks=0")
                            .arg(home, uiLog)
                            .toUtf8());
        sh(QStringLiteral("chown -R %1:%1 '%2' && chmod 0700 '%2/run'").arg(user.uid).arg(home));
        return command(QStringLiteral("gui %1 plA %2 %3/prog/Bramblet %4").arg(user.name, display.name(), lab.path(), env));
    }

    bool pressServer(const QString &peer)
    {
        QString window;
        waitFor([&] { return !(window = display.findWindow(kMainTitle)).isEmpty(); }, 10000);
        return !window.isEmpty() && display.clickAt(window, kFieldX, kFieldY) && display.type(window, peer) &&
               display.clickAt(window, kServerX, kButtonY);
    }

    bool startPeer(const QString &name)
    {
        return command(QStringLiteral("peer plB 10.78.0.1 %1 %2").arg(QStringLiteral(BRAMBLET_E2E_BIN_DIR "/e2e_dialogside"),
                                                                      lab.filePath(name))) > 0;
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("the polkit test makes mount and network namespaces and runs a system bus; it needs root");
        for (const char *tool : {"unshare", "dbus-daemon", "pkexec", "pkcheck", "pkaction", "setpriv", "ip", "Xvfb", "xdotool"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (tools/deps)").arg(QString::fromLatin1(tool))));
        if (!QFile::exists(QStringLiteral("/usr/lib/polkit-1/polkitd")))
            QSKIP("polkitd is not installed (tools/deps)");
        QVERIFY(lab.isValid());
        QVERIFY(QFile::setPermissions(lab.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadOther | QFileDevice::ExeOther |
                                                      QFileDevice::ReadGroup | QFileDevice::ExeGroup));

        // The overlay's upper layer: the test users, the rule, and the hosts file.
        QVERIFY(bramblet::test::makePrivateEtc(lab.path()));
        QVERIFY(QDir().mkpath(upper() + QStringLiteral("/polkit-1/rules.d")));
        QByteArray passwd, group, shadow;
        for (const TestUser &u : {kAllowed, kRefused}) {
            passwd += QStringLiteral("%1:x:%2:%2::/nonexistent:/bin/sh\n").arg(u.name).arg(u.uid).toUtf8();
            group += QStringLiteral("%1:x:%2:\n").arg(u.name).arg(u.uid).toUtf8();
            shadow += QStringLiteral("%1:!:19000::::::\n").arg(u.name).toUtf8();
        }
        QVERIFY(appendFrom(QStringLiteral("/etc/passwd"), upper() + QStringLiteral("/passwd"), passwd));
        QVERIFY(appendFrom(QStringLiteral("/etc/group"), upper() + QStringLiteral("/group"), group));
        QVERIFY(appendFrom(QStringLiteral("/etc/shadow"), upper() + QStringLiteral("/shadow"), shadow));
        QCOMPARE(sh(QStringLiteral("chmod 0644 '%1/passwd' '%1/group'; chown root:shadow '%1/shadow'; chmod 0640 '%1/shadow'")
                        .arg(upper()))
                     .exitCode,
                 0);
        const QString rule = QStringLiteral(
                                 "polkit.addRule(function(action, subject) {\n"
                                 "    if (action.id != \"org.freedesktop.policykit.exec\" && action.id != \"org.bramblet.hosts-guard\")\n"
                                 "        return polkit.Result.NOT_HANDLED;\n"
                                 "    if (subject.user == \"%1\") return polkit.Result.YES;\n"
                                 "    if (subject.user == \"%2\") return polkit.Result.NO;\n"
                                 "    return polkit.Result.NOT_HANDLED;\n"
                                 "});\n")
                                 .arg(kAllowed.name, kRefused.name);
        QVERIFY(writeBytes(upper() + QStringLiteral("/polkit-1/rules.d/10-bramblet-test.rules"), rule.toUtf8()));
        QVERIFY(writeBytes(hostsPath(), kOriginal));

        // The program as installed: Bramblet, the guard and Lib/ together, readable by all.
        const QString stage = bramblet::test::stageDir();
        QCOMPARE(sh(QStringLiteral("set -e; mkdir -p '%1/prog'; cp -a '%2/Bramblet' '%2/bramblet-hosts-guard' '%2/Lib' '%1/prog/';"
                                   "cp -a '%2'/*.html '%1/prog/' 2>/dev/null || true; chmod -R a+rX '%1/prog'")
                         .arg(lab.path(), stage))
                     .exitCode,
                 0);

        const QString displayError = display.start(300 + int(QRandomGenerator::global()->bounded(80)) * 2);
        if (!displayError.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no X display with a tray: ") + displayError));

        machine.setProcessChannelMode(QProcess::SeparateChannels);
        bramblet::test::startWithPrivateEtc(machine, lab.path(),
                                            {QStringLiteral("/bin/sh"), QStringLiteral(BRAMBLET_POLKITLAB), lab.path()});
        QVERIFY(machine.waitForStarted(10000));
        if (!waitFor([&] { machine.waitForReadyRead(100); return machine.canReadLine() || machine.state() == QProcess::NotRunning; },
                     60000) ||
            machine.readLine().trimmed() != "ready")
            QFAIL(qPrintable(QStringLiteral("the lab machine did not come up: ") + QString::fromLocal8Bit(machine.readAllStandardError())));
    }

    // Whatever the test's program started (its local server outlives a killed program).
    void cleanup() { bramblet::test::endProgramsIn(lab.filePath(QStringLiteral("prog"))); }

    void cleanupTestCase()
    {
        if (machine.state() != QProcess::NotRunning) {
            machine.closeWriteChannel();
            if (!machine.waitForFinished(20000)) {
                machine.kill();
                machine.waitForFinished(5000);
            }
        }
        bramblet::test::endProgramsIn(lab.filePath(QStringLiteral("prog")));
        display.stop();
    }

    void allowedUserLinksAndAKillRestores()
    {
        QString uiLog;
        const qint64 gui = startGui(kAllowed, uiLog);
        QVERIFY(gui > 0);
        QVERIFY2(waitFor([&] { return readText(uiLog).contains(QStringLiteral("main-created")); }, 30000),
                 qPrintable(readText(lab.filePath(kAllowed.name + QStringLiteral("/env.out")))));
        // The first show is over once its help balloon is up; polkit would let this user in.
        QVERIFY(waitFor([&] { return readText(uiLog).contains(QStringLiteral("\nballoon\t")); }, 30000));
        QVERIFY2(!boxes(uiLog).join(QLatin1Char('\n')).contains(kNotAdministrator), qPrintable(boxes(uiLog).join(QLatin1Char('\n'))));

        QVERIFY(startPeer(QStringLiteral("peer1.out")));
        QVERIFY(pressServer(QStringLiteral("10.78.0.2")));
        QVERIFY2(waitFor([&] { return readBytes(hostsPath()).contains("10.78.0.1  gate.quorrel2008.net"); }, 90000),
                 qPrintable(readText(uiLog) + readText(lab.filePath(QStringLiteral("peer1.out")))));
        QCOMPARE(readBytes(hostsPath() + QStringLiteral(".bak")), kOriginal);
        // The GUI is the user's own process, and was from its start.
        QCOMPARE(uids(gui), QStringLiteral("%1 %1 %1 %1").arg(kAllowed.uid));
        for (const QString &box : boxes(uiLog))
            QVERIFY2(!box.contains(QStringLiteral("\terror\t")), qPrintable(box));

        // The local server has started: the kill cannot fall between its start and the test's
        // clean-up, which ends it.
        QVERIFY(waitFor([&] { return readText(lab.filePath(kAllowed.name + QStringLiteral("/companion.log"))).contains(QStringLiteral("Ostrel\t")); },
                        30000));
        QCOMPARE(::kill(pid_t(gui), SIGKILL), 0);
        const auto ours = [&] { return QDir(upper()).entryList({QStringLiteral("hosts*")}, QDir::Files | QDir::Hidden); };
        QVERIFY2(waitFor([&] { return readBytes(hostsPath()) == kOriginal && ours() == QStringList{QStringLiteral("hosts")}; }, 5000),
                 qPrintable(ours().join(u' ') + u'\n' + QString::fromUtf8(readBytes(hostsPath()))));
    }

    void refusedUserWarnedAndNothingChanged()
    {
        QString uiLog;
        const qint64 gui = startGui(kRefused, uiLog);
        QVERIFY(gui > 0);
        // polkit itself refuses this user, not merely a missing polkit.
        QCOMPARE(ask(QStringLiteral("check %1 org.freedesktop.policykit.exec").arg(kRefused.name)), QStringLiteral("exit 1"));
        QVERIFY(waitFor([&] { return boxes(uiLog).join(QLatin1Char('\n')).contains(kNotAdministrator); }, 30000));
        QVERIFY(waitFor([&] { return readText(uiLog).contains(QStringLiteral("\nballoon\t")); }, 30000));

        QVERIFY(startPeer(QStringLiteral("peer2.out")));
        QVERIFY(pressServer(QStringLiteral("10.78.0.2")));
        QVERIFY2(waitFor([&] { return boxes(uiLog).join(QLatin1Char('\n')).contains(QStringLiteral("\terror\t")); }, 90000),
                 qPrintable(readText(uiLog)));
        const QString failure = boxes(uiLog).filter(QStringLiteral("\terror\t")).join(QLatin1Char('\n'));
        QVERIFY2(failure.contains(QStringLiteral("无法修改hosts文件")), qPrintable(failure));
        QCOMPARE(readBytes(hostsPath()), kOriginal);
        QVERIFY(!QFile::exists(hostsPath() + QStringLiteral(".bak")));
        ::kill(pid_t(gui), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestPolkitLink)
#include "tst_polkitlink.moc"
