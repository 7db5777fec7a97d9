// The program as a player's own user with the real polkit: a private system bus and polkitd
// in a mount namespace of their own, a rule that lets one test user run the hosts guard and
// refuses another. The GUI completes a SERVER link as the first user and is killed; as the
// second it warns at its first show and reports the failed link start.
#include "PolkitLab.h"

#include <QRandomGenerator>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using namespace bramblet::e2e;

namespace {

const QByteArray kOriginal = "127.0.0.1\tlocalhost\n127.0.1.1  lab\n# the machine's own\n";
const QString kNotAdministrator = QStringLiteral("当前操作系统用户不是管理员帐户");

const PolkitLab::User kAllowed{QStringLiteral("brambletok"), 61071};
const PolkitLab::User kRefused{QStringLiteral("brambletno"), 61072};

QStringList boxes(const QString &uiLog) { return linesOf(uiLog, QStringLiteral("box")); }

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

    PolkitLab lab;
    VirtualDisplay display;

    QString hostsPath() const { return lab.copy.hostsPath(); }
    QString inLab(const QString &name) const { return lab.copy.root() + QLatin1Char('/') + name; }

    bool startPeer(const QString &name) { return lab.startPeer(QStringLiteral(BRAMBLET_E2E_BIN_DIR "/e2e_dialogside"), inLab(name)); }

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
        const QString displayError = display.start(300 + int(QRandomGenerator::global()->bounded(80)) * 2);
        if (!displayError.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no X display with a tray: ") + displayError));

        const QString rule = QStringLiteral(
                                 "polkit.addRule(function(action, subject) {\n"
                                 "    if (action.id != \"org.freedesktop.policykit.exec\" && action.id != \"org.bramblet.hosts-guard\")\n"
                                 "        return polkit.Result.NOT_HANDLED;\n"
                                 "    if (subject.user == \"%1\") return polkit.Result.YES;\n"
                                 "    if (subject.user == \"%2\") return polkit.Result.NO;\n"
                                 "    return polkit.Result.NOT_HANDLED;\n"
                                 "});\n")
                                 .arg(kAllowed.name, kRefused.name);
        const QString why = lab.start({kAllowed, kRefused}, rule, kOriginal);
        QVERIFY2(why.isEmpty(), qPrintable(why));
    }

    // Whatever the test's program started (its local server outlives a killed program).
    void cleanup() { lab.copy.stop(); }

    void cleanupTestCase()
    {
        lab.end();
        display.stop();
    }

    void allowedUserLinksAndAKillRestores()
    {
        const QString uiLog = lab.session(kAllowed).uiLog();
        const qint64 gui = lab.startProgram(kAllowed, display.name());
        QVERIFY(gui > 0);
        QVERIFY2(waitFor([&] { return readText(uiLog).contains(QStringLiteral("main-created")); }, 30000),
                 qPrintable(readText(lab.session(kAllowed).home + QStringLiteral("/env.out"))));
        // The first show is over once its help balloon is up; polkit would let this user in.
        QVERIFY(waitFor([&] { return readText(uiLog).contains(QStringLiteral("\nballoon\t")); }, 30000));
        QVERIFY2(!boxes(uiLog).join(QLatin1Char('\n')).contains(kNotAdministrator), qPrintable(boxes(uiLog).join(QLatin1Char('\n'))));

        QVERIFY(startPeer(QStringLiteral("peer1.out")));
        QVERIFY(display.enterPeer(display.mainWindow(), QStringLiteral("10.78.0.2"), kServerX));
        QVERIFY2(waitFor([&] { return readAll(hostsPath()).contains("10.78.0.1  gate.quorrel2008.net"); }, 90000),
                 qPrintable(readText(uiLog) + readText(inLab(QStringLiteral("peer1.out")))));
        QCOMPARE(readAll(hostsPath() + QStringLiteral(".bak")), kOriginal);
        // The GUI is the user's own process, and was from its start.
        QCOMPARE(uids(gui), QStringLiteral("%1 %1 %1 %1").arg(kAllowed.uid));
        for (const QString &box : boxes(uiLog))
            QVERIFY2(!box.contains(QStringLiteral("\terror\t")), qPrintable(box));

        // The local server has started: the kill cannot fall between its start and the test's
        // clean-up, which ends it.
        QVERIFY(waitFor([&] { return readText(lab.session(kAllowed).companionLog()).contains(QStringLiteral("Ostrel\t")); },
                        30000));
        QCOMPARE(::kill(pid_t(gui), SIGKILL), 0);
        const auto ours = [&] { return QDir(lab.copy.etcDir()).entryList({QStringLiteral("hosts*")}, QDir::Files | QDir::Hidden); };
        QVERIFY2(waitFor([&] { return readAll(hostsPath()) == kOriginal && ours() == QStringList{QStringLiteral("hosts")}; }, 5000),
                 qPrintable(ours().join(u' ') + u'\n' + QString::fromUtf8(readAll(hostsPath()))));
    }

    void refusedUserWarnedAndNothingChanged()
    {
        const QString uiLog = lab.session(kRefused).uiLog();
        const qint64 gui = lab.startProgram(kRefused, display.name());
        QVERIFY(gui > 0);
        // polkit itself refuses this user, not merely a missing polkit.
        QCOMPARE(lab.ask(QStringLiteral("check %1 org.freedesktop.policykit.exec").arg(kRefused.name)), QStringLiteral("exit 1"));
        QVERIFY(waitFor([&] { return boxes(uiLog).join(QLatin1Char('\n')).contains(kNotAdministrator); }, 30000));
        QVERIFY(waitFor([&] { return readText(uiLog).contains(QStringLiteral("\nballoon\t")); }, 30000));

        QVERIFY(startPeer(QStringLiteral("peer2.out")));
        QVERIFY(display.enterPeer(display.mainWindow(), QStringLiteral("10.78.0.2"), kServerX));
        QVERIFY2(waitFor([&] { return boxes(uiLog).join(QLatin1Char('\n')).contains(QStringLiteral("\terror\t")); }, 90000),
                 qPrintable(readText(uiLog)));
        const QString failure = boxes(uiLog).filter(QStringLiteral("\terror\t")).join(QLatin1Char('\n'));
        QVERIFY2(failure.contains(QStringLiteral("无法修改hosts文件")), qPrintable(failure));
        QCOMPARE(readAll(hostsPath()), kOriginal);
        QVERIFY(!QFile::exists(hostsPath() + QStringLiteral(".bak")));
        ::kill(pid_t(gui), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestPolkitLink)
#include "tst_polkitlink.moc"
