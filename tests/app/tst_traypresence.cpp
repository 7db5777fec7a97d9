// The main window on desktops with a tray, with only a notification service, and with
// neither: it must never vanish, and balloons must reach the player somewhere.
#include "app/Services.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "support/MainWindowRig.h"

#include <QLabel>
#include <QtTest>

#include <memory>

using namespace bramblet;

namespace {

enum class Desktop { Tray, NotificationsOnly, Neither };

const QString kSummary = QStringLiteral(" 对方真实地址为：10.0.0.2\r\n 速度：快\r\n 稳定性：好\r\n 丢包：无");
const QString kSummaryShown = QStringLiteral(" 对方真实地址为：10.0.0.2\n 速度：快\n 稳定性：好\n 丢包：无");

struct Rig : test::MainWindowRig {
    explicit Rig(Desktop desktop)
    {
        trayAvailable = desktop == Desktop::Tray;
        notificationsAvailable = desktop == Desktop::NotificationsOnly;
        make();
        countBalloonClicks();
        form->show();
    }
    bool helpBalloon()
    {
        return form->TrayIcon1->ShowBalloon(QStringLiteral("不能正常联机？联机时有错误？"),
                                            QStringLiteral("请点我解决！"), BalloonIcon::Info, 10);
    }
};

} // namespace

Q_DECLARE_METATYPE(Desktop)

class TestTrayPresence : public QObject {
    Q_OBJECT
private slots:
    void minimise_data()
    {
        QTest::addColumn<Desktop>("desktop");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("tray: into the tray") << Desktop::Tray << true;
        QTest::newRow("notifications only: ordinary minimise") << Desktop::NotificationsOnly << false;
        QTest::newRow("neither: ordinary minimise") << Desktop::Neither << false;
    }
    void minimise()
    {
        QFETCH(Desktop, desktop);
        QFETCH(bool, hidden);
        Rig rig(desktop);
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        // The link start's minimise request arrives posted, as a state change.
        QMetaObject::invokeMethod(rig.form.get(), [&] { rig.form->showMinimized(); }, Qt::QueuedConnection);
        QTRY_VERIFY(rig.form->isMinimized());
        if (hidden) {
            QTRY_VERIFY(!rig.form->isVisible());
        } else {
            // Give a wrong hide the queued turn it would take, then look.
            QVERIFY(rig.queuedTurnPassed());
            QVERIFY(rig.form->isVisible());
        }
    }

    void explicitHideWithoutTrayMinimises_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("SendToTray") << QStringLiteral("send");
        QTest::newRow("HideMainWindow") << QStringLiteral("hide");
    }
    void explicitHideWithoutTrayMinimises()
    {
        QFETCH(QString, operation);
        Rig rig(Desktop::Neither);
        if (operation == QLatin1String("send"))
            rig.form->TrayIcon1->SendToTray();
        else
            rig.form->TrayIcon1->HideMainWindow();
        QVERIFY(rig.form->isVisible());
        QVERIFY(rig.form->isMinimized());
    }

    void balloonRoute_data()
    {
        QTest::addColumn<Desktop>("desktop");
        QTest::addColumn<int>("inTray");
        QTest::addColumn<int>("notified");
        QTest::addColumn<bool>("statusLine");
        QTest::newRow("tray shows it") << Desktop::Tray << 1 << 0 << false;
        QTest::newRow("notification service shows it") << Desktop::NotificationsOnly << 0 << 1 << false;
        QTest::newRow("status line shows it") << Desktop::Neither << 0 << 0 << true;
    }
    void balloonRoute()
    {
        QFETCH(Desktop, desktop);
        QFETCH(int, inTray);
        QFETCH(int, notified);
        QFETCH(bool, statusLine);
        Rig rig(desktop);
        QVERIFY(rig.helpBalloon());
        QCOMPARE(int(rig.host->balloons.size()), inTray);
        QCOMPARE(int(rig.notes->shown.size()), notified);
        QCOMPARE(rig.form->StatusLine->isVisible(), statusLine);
        if (notified) {
            const auto &n = rig.notes->shown[0];
            QCOMPARE(n.title, QStringLiteral("不能正常联机？联机时有错误？"));
            QCOMPARE(n.text, QStringLiteral("请点我解决！"));
            QCOMPARE(n.icon, BalloonIcon::Info);
            QCOMPARE(n.msecs, 10000);
        }
        if (statusLine) {
            QCOMPARE(rig.form->StatusLine->text(), QStringLiteral("不能正常联机？联机时有错误？\n请点我解决！"));
            QVERIFY(rig.form->height() > TBrambletMainForm::kClientHeight);
            QVERIFY(rig.form->StatusLine->geometry().bottom() < rig.form->height());
        }
    }

    void balloonClick_data()
    {
        QTest::addColumn<Desktop>("desktop");
        QTest::newRow("click on the tray balloon") << Desktop::Tray;
        QTest::newRow("click on the notification") << Desktop::NotificationsOnly;
        QTest::newRow("click on the status line") << Desktop::Neither;
    }
    void balloonClick()
    {
        QFETCH(Desktop, desktop);
        Rig rig(desktop);
        rig.form->TrayIcon1->SetEnabled(false); // balloon clicks count even so
        rig.helpBalloon();
        switch (desktop) {
        case Desktop::Tray:
            rig.host->clickBalloon();
            break;
        case Desktop::NotificationsOnly:
            rig.notes->click();
            break;
        case Desktop::Neither:
            QTest::mouseClick(rig.form->StatusLine, Qt::LeftButton);
            break;
        }
        QCOMPARE(rig.balloonClicks, 1);
        QVERIFY(rig.messages.boxes.isEmpty());
    }

    void statusLineWithoutBalloonIsNoBalloon()
    {
        Rig rig(Desktop::NotificationsOnly);
        rig.form->TrayIcon1->SetHint(kSummary);
        QVERIFY(rig.form->StatusLine->isVisible());
        QTest::mouseClick(rig.form->StatusLine, Qt::LeftButton);
        QCOMPARE(rig.balloonClicks, 0); // the hint is no balloon
    }

    void hintReadableWithoutTray_data()
    {
        QTest::addColumn<Desktop>("desktop");
        QTest::addColumn<QString>("statusText");
        QTest::newRow("tray: hint in the tooltip, no status line") << Desktop::Tray << QString();
        QTest::newRow("notifications only: hint in the status line") << Desktop::NotificationsOnly << kSummaryShown;
        QTest::newRow("neither: hint in the status line") << Desktop::Neither << kSummaryShown;
    }
    void hintReadableWithoutTray()
    {
        QFETCH(Desktop, desktop);
        QFETCH(QString, statusText);
        Rig rig(desktop);
        QVERIFY(!rig.form->StatusLine->isVisible());
        QCOMPARE(rig.form->height(), TBrambletMainForm::kClientHeight);
        rig.form->TrayIcon1->SetHint(kSummary);
        QCOMPARE(rig.host->toolTip, kSummary);
        QCOMPARE(rig.form->StatusLine->isVisible(), !statusText.isEmpty());
        if (!statusText.isEmpty())
            QCOMPARE(rig.form->StatusLine->text(), statusText);
        rig.form->TrayIcon1->SetHint(QString());
        QVERIFY(!rig.form->StatusLine->isVisible());
        QCOMPARE(rig.form->height(), TBrambletMainForm::kClientHeight);
    }

    void connectedBalloonInStatusLineThenClickLeavesSummary()
    {
        Rig rig(Desktop::Neither);
        rig.helpBalloon();
        rig.form->TrayIcon1->SetHint(kSummary);
        rig.form->TrayIcon1->ShowBalloon(QStringLiteral("连接成功"), rig.form->TrayIcon1->Hint(), BalloonIcon::Info,
                                         10);
        QCOMPARE(rig.form->StatusLine->text(), QStringLiteral("连接成功\n") + kSummaryShown);
        QTest::mouseClick(rig.form->StatusLine, Qt::LeftButton);
        QCOMPARE(rig.balloonClicks, 1);
        QCOMPARE(rig.form->StatusLine->text(), kSummaryShown); // the summary is never lost
    }

    void failedNotificationFallsBackToStatusLine()
    {
        Rig rig(Desktop::NotificationsOnly);
        rig.helpBalloon();
        QVERIFY(!rig.form->StatusLine->isVisible());
        rig.notes->fail();
        QVERIFY(rig.form->StatusLine->isVisible());
        QCOMPARE(rig.form->StatusLine->text(), QStringLiteral("不能正常联机？联机时有错误？\n请点我解决！"));
    }

    void notificationReplacedAndTimedOut()
    {
        Rig rig(Desktop::NotificationsOnly);
        int timeouts = 0;
        rig.form->TrayIcon1->OnBalloonHintTimeout = [&](TTrayIcon *) { ++timeouts; };
        rig.helpBalloon();
        rig.form->TrayIcon1->ShowBalloon(QStringLiteral("连接成功"), kSummary, BalloonIcon::Info, 10);
        QCOMPARE(rig.notes->closes, 1); // the help notification was taken down first
        QCOMPARE(int(rig.notes->shown.size()), 2);
        rig.notes->expire();
        QCOMPARE(timeouts, 1);
        rig.notes->expire(); // nothing of ours is up any more
        QCOMPARE(timeouts, 1);
    }

    void trayAppearsLater()
    {
        Rig rig(Desktop::NotificationsOnly);
        rig.form->TrayIcon1->SetHint(kSummary);
        QVERIFY(rig.form->StatusLine->isVisible());
        rig.host->log.clear();
        rig.host->setAvailable(true);
        QCOMPARE(rig.host->log, QStringList{QStringLiteral("show")}); // the icon goes in again
        QVERIFY(!rig.form->StatusLine->isVisible());
        rig.helpBalloon();
        QCOMPARE(rig.host->balloons.size(), 1);
        rig.form->showMinimized();
        QTRY_VERIFY(!rig.form->isVisible()); // normal behaviour is back
    }

    void trayGoesAwayWhileHidden()
    {
        Rig rig(Desktop::Tray);
        rig.form->showMinimized();
        QTRY_VERIFY(!rig.form->isVisible());
        rig.host->setAvailable(false);
        QVERIFY(rig.form->isVisible()); // back, since the tray it hid in is gone
        QVERIFY(!rig.form->isMinimized());
        rig.form->showMinimized();
        QVERIFY(rig.queuedTurnPassed());
        QVERIFY(rig.form->isVisible());
    }

    void trayWithoutOwnBalloonsUsesNotifications()
    {
        // A tray that would hand balloons on to the desktop's service: the service is used
        // directly, so a missing service falls back to the status line.
        Rig rig(Desktop::Tray);
        rig.host->showsMessages = false;
        rig.notes->available = false;
        rig.helpBalloon();
        QVERIFY(rig.host->balloons.isEmpty());
        QVERIFY(rig.notes->shown.isEmpty());
        QCOMPARE(rig.form->StatusLine->text(), QStringLiteral("不能正常联机？联机时有错误？\n请点我解决！"));
        rig.notes->available = true;
        rig.helpBalloon();
        QCOMPARE(rig.notes->shown.size(), 1);
        QVERIFY(!rig.form->StatusLine->isVisible());
    }
};

QTEST_MAIN(TestTrayPresence)
#include "tst_traypresence.moc"
