#include "platform/gamesettings.h"
#include "platform/privileges.h"

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
