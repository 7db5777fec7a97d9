#include "platform/gamesettings.h"
#include "platform/privileges.h"

#include <QTemporaryDir>
#include <QtTest>

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

    void administratorIsEffectiveRoot() { QCOMPARE(bramblet::platform::IsAdministratorAccount(), geteuid() == 0); }
};

QTEST_GUILESS_MAIN(TestGameSettings)
#include "tst_gamesettings.moc"
