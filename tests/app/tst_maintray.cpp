#include "app/ProgramIcon.h"
#include "app/Services.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "support/MainWindowRig.h"

#include <QAction>
#include <QMenu>
#include <QtTest>

#include <memory>

using namespace bramblet;

namespace {

// Counts the main window's show events: its show handler runs on each.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        // Qt adds spontaneous show events when a window leaves the minimised state; the
        // window's own showing is the one its show handler stands for.
        if (e->type() == QEvent::Show && !e->spontaneous())
            ++shows;
        return false;
    }
};

struct MainRig : test::MainWindowRig {
    MainRig()
    {
        services.shell = &desktop;
        make();
        form->installEventFilter(&showCounter);
        form->show();
    }
    test::QuietDesktop desktop;
    ShowCounter showCounter;
};

} // namespace

class TestMainTray : public QObject {
    Q_OBJECT
private slots:
    void settings()
    {
        MainRig rig;
        TTrayIcon *tray = rig.form->TrayIcon1;
        QVERIFY(tray);
        QVERIFY(rig.host);
        QVERIFY(tray->IconVisible());
        QVERIFY(rig.host->visible); // shown from the start
        QVERIFY(tray->MinimizeToTray());
        QVERIFY(!tray->CycleIcons());
        QCOMPARE(tray->CycleInterval(), 0);
        QCOMPARE(tray->IconIndex(), 0);
        QCOMPARE(tray->PopupMenu(), rig.form->PopupMenu1);
        QCOMPARE(rig.host->menu.data(), rig.form->PopupMenu1);
        QVERIFY(tray->OnDblClick);
        QVERIFY(tray->OnBalloonHintClick);
        QVERIFY(!tray->OnClick);
        // The same picture as the window's icon.
        QCOMPARE(rig.host->icon.pixmap(32).toImage(), programIcon().pixmap(32).toImage());
        QVERIFY(!rig.host->icon.isNull());
    }

    void popupMenuItems()
    {
        MainRig rig;
        const QList<QAction *> items = rig.form->PopupMenu1->actions();
        QCOMPARE(items.size(), 3);
        QCOMPARE(items[0], rig.form->N2);
        QCOMPARE(items[0]->text(), QStringLiteral("SHOW-MOSTRA"));
        QVERIFY(items[1]->isSeparator());
        QCOMPARE(items[1], rig.form->N3);
        QCOMPARE(items[2], rig.form->N1);
        QCOMPARE(items[2]->text(), QStringLiteral("EXIT-ESCI"));
        QVERIFY(rig.form->PopupMenu1->defaultAction() == nullptr);
    }

    void minimiseAndRestore_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("SHOW-MOSTRA") << QStringLiteral("menu");
        QTest::newRow("double-click on the icon") << QStringLiteral("double-click");
    }
    void minimiseAndRestore()
    {
        QFETCH(QString, way);
        MainRig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        const int showsBefore = rig.showCounter.shows;
        rig.form->showMinimized();
        QTRY_VERIFY(!rig.form->isVisible()); // gone from the desktop and the taskbar
        QVERIFY(rig.host->visible);          // the icon stays
        QCOMPARE(rig.quits, 0);

        if (way == QLatin1String("menu"))
            rig.form->N2->trigger();
        else
            rig.host->doubleClick();
        QVERIFY(rig.form->isVisible());
        QVERIFY(!rig.form->isMinimized());
        QCOMPARE(rig.showCounter.shows, showsBefore + 1); // the show handler runs again

        // And it goes to the tray again the next time.
        rig.form->showMinimized();
        QTRY_VERIFY(!rig.form->isVisible());
    }

    void showOnVisibleWindowOnlyRaises()
    {
        MainRig rig;
        const int shows = rig.showCounter.shows;
        rig.form->N2->trigger();
        QVERIFY(rig.form->isVisible());
        QCOMPARE(rig.showCounter.shows, shows);
    }

    void exitEndsProgram_data()
    {
        QTest::addColumn<bool>("fromTray");
        QTest::newRow("EXIT-ESCI on a visible window") << false;
        QTest::newRow("EXIT-ESCI while hidden in the tray") << true;
    }
    void exitEndsProgram()
    {
        QFETCH(bool, fromTray);
        MainRig rig;
        if (fromTray) {
            rig.form->showMinimized();
            QTRY_VERIFY(!rig.form->isVisible());
        }
        rig.form->N1->trigger();
        QCOMPARE(rig.quits, 1);
        QVERIFY(!rig.form->isVisible());
    }

    void balloonClickReachesHandler()
    {
        MainRig rig;
        QVERIFY(rig.form->TrayIcon1->ShowBalloon(QStringLiteral("不能正常联机？联机时有错误？"),
                                                 QStringLiteral("请点我解决！"), BalloonIcon::Info, 10));
        QCOMPARE(rig.host->balloons.size(), 1);
        QCOMPARE(rig.host->balloons[0].msecs, 10000);
        // While the help balloon counts as shown, the handler opens the help once per click,
        // without an error box.
        processFlags().HelpBalloonActive = true;
        rig.host->clickBalloon();
        QCOMPARE(rig.desktop.opened.size(), 1);
        QVERIFY(rig.messages.boxes.isEmpty());
    }
};

QTEST_MAIN(TestMainTray)
#include "tst_maintray.moc"
