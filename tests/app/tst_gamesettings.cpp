#include "platform/eventwait.h"
#include "platform/gamesearch.h"
#include "platform/gamesettings.h"
#include "platform/privileges.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <grp.h>
#include <unistd.h>

using bramblet::platform::GameSettings;

class TestGameSettings : public QObject {
    Q_OBJECT
private slots:
    void valueOutlivesTheRun()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("sub/Bramblet.conf"));
        {
            GameSettings s(file);
            QVERIFY(s.open());
            QVERIFY(!s.hasInstallDir());
            QVERIFY(s.setInstallDir(QStringLiteral("/games/PES2008.exe")));
            s.close();
        }
        GameSettings again(file);
        QVERIFY(again.open());
        QVERIFY(again.hasInstallDir());
        QCOMPARE(again.installDir(), QStringLiteral("/games/PES2008.exe"));
        again.removeInstallDir();
        again.close();
        GameSettings third(file);
        QVERIFY(third.open());
        QVERIFY(!third.hasInstallDir());
    }

    void closedStoreAnswersNothing()
    {
        QTemporaryDir dir;
        GameSettings s(dir.filePath(QStringLiteral("Bramblet.conf")));
        QVERIFY(!s.hasInstallDir());
        QVERIFY(!s.setInstallDir(QStringLiteral("/x")));
        QVERIFY(s.installDir().isEmpty());
    }

    // A path an earlier run kept machine-wide is the player's starting value; once removed
    // (stale), it stays removed for the run and the player's own choice wins from then on.
    void machineWideValueIsTheStartingValue()
    {
        QTemporaryDir dir;
        const QString user = dir.filePath(QStringLiteral("user.conf"));
        const QString system = dir.filePath(QStringLiteral("system.conf"));
        QSettings(system, QSettings::IniFormat).setValue(QStringLiteral("installdir"), QStringLiteral("/old/PES2008.exe"));
        GameSettings s(user, system);
        QVERIFY(s.open());
        QCOMPARE(s.installDir(), QStringLiteral("/old/PES2008.exe"));
        s.removeInstallDir();
        QVERIFY(!s.hasInstallDir());
        QVERIFY(s.setInstallDir(QStringLiteral("/new/PES2008.exe")));
        s.close();
        GameSettings again(user, system);
        QVERIFY(again.open());
        QCOMPARE(again.installDir(), QStringLiteral("/new/PES2008.exe"));
    }

    void recentPeers()
    {
        QTemporaryDir dir;
        const QString user = dir.filePath(QStringLiteral("user.conf"));
        QSettings(user, QSettings::IniFormat)
            .setValue(QStringLiteral("recentpeers"), QStringList{QStringLiteral("1.2.3.4"), QStringLiteral("bad host"),
                                                                 QStringLiteral("1.2.3.4"), QStringLiteral("010.0.0.1")});
        GameSettings s(user);
        QCOMPARE(s.recentPeers(), QStringList{QStringLiteral("1.2.3.4")});
        for (int i = 1; i <= 6; ++i)
            s.rememberPeer(QStringLiteral("10.0.0.%1").arg(i));
        s.rememberPeer(QStringLiteral("10.0.0.4"));
        s.rememberPeer(QStringLiteral("not an address"));
        QCOMPARE(s.recentPeers(), QStringList({QStringLiteral("10.0.0.4"), QStringLiteral("10.0.0.6"),
                                               QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.3"),
                                               QStringLiteral("10.0.0.2")}));
    }

    void chooserFolder_data()
    {
        QTest::addColumn<QStringList>("dirs");
        QTest::addColumn<QString>("game");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing: home") << QStringList{QStringLiteral("Documents")} << QString() << QString();
        QTest::newRow("empty prefix: its drive_c") << QStringList{QStringLiteral(".wine/drive_c/windows")} << QString()
                                                   << QStringLiteral("/.wine/drive_c");
        QTest::newRow("game in a later prefix, any case")
            << QStringList{QStringLiteral(".wine/drive_c/windows")}
            << QStringLiteral(".local/share/Steam/steamapps/compatdata/1234/pfx/drive_c/KONAMI/PES 2008/pes2008.EXE")
            << QStringLiteral("/.local/share/Steam/steamapps/compatdata/1234/pfx/drive_c/KONAMI/PES 2008");
        QTest::newRow("too deep is not searched")
            << QStringList{QStringLiteral("Games/pes/drive_c")}
            << QStringLiteral("Games/pes/drive_c/a/b/c/d/e/f/g/PES2008.exe") << QStringLiteral("/Games/pes/drive_c");
    }
    void chooserFolder()
    {
        QFETCH(QStringList, dirs);
        QFETCH(QString, game);
        QFETCH(QString, expected);
        QTemporaryDir home;
        qunsetenv("WINEPREFIX");
        for (const QString &d : dirs)
            QVERIFY(QDir(home.path()).mkpath(d));
        if (!game.isEmpty()) {
            QVERIFY(QDir(home.path()).mkpath(QFileInfo(game).path()));
            QFile f(home.filePath(game));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QCOMPARE(bramblet::platform::gameChooserFolder(home.path(), std::chrono::seconds(5)), home.path() + expected);
    }

    // Polkit's tools are waited for with the event loop running: a slow authority must not
    // freeze the window, and one that never answers is given up.
    void processWaitKeepsTheLoopRunning()
    {
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] { ++ticks; });
        tick.start(5);
        const auto done = bramblet::platform::runProcess(QStringLiteral("/bin/sh"),
                                                         {QStringLiteral("-c"), QStringLiteral("sleep 0.3; echo yes; exit 2")}, 5000);
        QVERIFY(done);
        QCOMPARE(done->exitCode, 2);
        QCOMPARE(done->output, QByteArray("yes\n"));
        QVERIFY2(ticks > 10, qPrintable(QString::number(ticks)));
        QVERIFY(!bramblet::platform::runProcess(QStringLiteral("/bin/sleep"), {QStringLiteral("10")}, 200));
        QVERIFY(!bramblet::platform::runProcess(QStringLiteral("/nonexistent/pkcheck"), {}, 200));
    }

    // polkit's answers through stand-ins of pkcheck and pkexec, asked by another user; root
    // needs no asking. 0 authorised, 1 not authorised, 2 authentication required.
    void administratorAsPolkitAnswers_data()
    {
        QTest::addColumn<bool>("asRoot");
        QTest::addColumn<int>("pkcheck"); // its exit code; -1: not installed
        QTest::addColumn<bool>("pkexec");
        QTest::addColumn<bool>("administrator");
        QTest::newRow("authorised") << false << 0 << true << true;
        QTest::newRow("not authorised") << false << 1 << true << false;
        QTest::newRow("authentication required") << false << 2 << true << true;
        QTest::newRow("pkcheck not installed") << false << -1 << true << false;
        QTest::newRow("pkexec not installed") << false << 0 << false << false;
        QTest::newRow("root, whatever polkit says") << true << 1 << true << true;
    }
    void administratorAsPolkitAnswers()
    {
        QFETCH(bool, asRoot);
        QFETCH(int, pkcheck);
        QFETCH(bool, pkexec);
        QFETCH(bool, administrator);
        if (::geteuid() != 0)
            QSKIP("asking as another user needs root");
        QTemporaryDir dir;
        const auto script = [&](const QString &name, int code) {
            const QString path = dir.filePath(name);
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(QByteArray("#!/bin/sh\nexit ") + QByteArray::number(code) + '\n') > 0 &&
                   f.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther);
        };
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadOther | QFileDevice::ExeOther));
        QVERIFY(pkcheck < 0 || script(QStringLiteral("pkcheck"), pkcheck));
        QVERIFY(!pkexec || script(QStringLiteral("pkexec"), 0));
        // The build tree may lie where the other user cannot enter: a copy of this program.
        const QString program = dir.filePath(QStringLiteral("tst_gamesettings"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        QProcess child;
        if (!asRoot)
            child.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(97);
            });
        child.start(program, {QStringLiteral("--child"), dir.filePath(QStringLiteral("pkexec")), dir.filePath(QStringLiteral("pkcheck"))});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput().trimmed(), administrator ? QByteArray("administrator") : QByteArray("refused"));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
        const bool yes = bramblet::platform::IsAdministratorAccount({QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])});
        std::puts(yes ? "administrator" : "refused");
        return 0;
    }
    TestGameSettings test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_gamesettings.moc"
