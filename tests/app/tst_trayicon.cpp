#include "app/Gb2312.h"
#include "app/TrayIcon.h"
#include "support/FakeTrayHost.h"

#include <QMenu>
#include <QStyleHints>
#include <QWidget>
#include <QtTest>

#include <memory>

using namespace bramblet;
using bramblet::test::FakeTrayHost;

namespace {

const QString kZhong = QStringLiteral("中");

QString ascii(int n) { return QString(n, QLatin1Char('a')); }

// A window with a tray icon on a recording host.
struct Rig {
    Rig()
    {
        auto h = std::make_unique<FakeTrayHost>();
        host = h.get();
        tray = new TTrayIcon(&window, std::move(h));
    }
    QWidget window;
    FakeTrayHost *host = nullptr;
    TTrayIcon *tray = nullptr;
};

QIcon coloured(Qt::GlobalColor colour)
{
    QPixmap p(16, 16);
    p.fill(colour);
    return QIcon(p);
}

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(gb2312Available(), "the GB2312 codec must be there"); }

    void tooltipCut_data()
    {
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("showHint");
        QTest::addColumn<QString>("tip");
        QTest::newRow("126 bytes kept whole") << ascii(124) + kZhong << true << ascii(124) + kZhong;
        QTest::newRow("127 bytes kept whole") << ascii(125) + kZhong << true << ascii(125) + kZhong;
        QTest::newRow("128 bytes: Chinese straddling the edge dropped") << ascii(126) + kZhong << true << ascii(126);
        QTest::newRow("Chinese at 127 then more") << ascii(125) + kZhong + QStringLiteral("xyz") << true
                                                  << ascii(125) + kZhong;
        QTest::newRow("link summary with CR LF fits")
            << QStringLiteral(" 对方真实地址为：10.0.0.2\r\n 速度：快\r\n 稳定性：好\r\n 丢包：无") << true
            << QStringLiteral(" 对方真实地址为：10.0.0.2\r\n 速度：快\r\n 稳定性：好\r\n 丢包：无");
        QTest::newRow("empty hint, empty tip") << QString() << true << QString();
        QTest::newRow("ShowHint off, empty tip") << QStringLiteral("对方") << false << QString();
    }
    void tooltipCut()
    {
        QFETCH(QString, hint);
        QFETCH(bool, showHint);
        QFETCH(QString, tip);
        Rig rig;
        rig.tray->SetIconVisible(true);
        rig.tray->SetShowHint(showHint);
        rig.tray->SetHint(hint);
        QCOMPARE(rig.host->toolTip, tip);
        QCOMPARE(rig.tray->TipText(), tip);
        QCOMPARE(rig.tray->Hint(), hint); // the property keeps the whole text
        QVERIFY(toGb2312(rig.host->toolTip).size() <= 127);
    }

    void balloonCut_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shownTitle");
        QTest::addColumn<QString>("shownText");
        const QString t = QStringLiteral("连接成功");
        QTest::newRow("text 254 bytes whole") << t << ascii(252) + kZhong << t << ascii(252) + kZhong;
        QTest::newRow("text 255 bytes whole") << t << ascii(253) + kZhong << t << ascii(253) + kZhong;
        QTest::newRow("text 256 bytes: straddling Chinese dropped") << t << ascii(254) + kZhong << t << ascii(254);
        QTest::newRow("title 63 bytes whole") << ascii(61) + kZhong << QStringLiteral("x") << ascii(61) + kZhong
                                              << QStringLiteral("x");
        QTest::newRow("title 64 bytes: straddling Chinese dropped")
            << ascii(62) + kZhong << QStringLiteral("x") << ascii(62) << QStringLiteral("x");
        QTest::newRow("a 200-byte hint fits the balloon, not the tooltip")
            << t << QString(100, QChar(0x4E2D)) << t << QString(100, QChar(0x4E2D));
    }
    void balloonCut()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, shownTitle);
        QFETCH(QString, shownText);
        Rig rig;
        rig.tray->SetIconVisible(true);
        QVERIFY(rig.tray->ShowBalloon(title, text, BalloonIcon::Info, 10));
        QCOMPARE(rig.host->balloons.size(), 1);
        QCOMPARE(rig.host->balloons[0].title, shownTitle);
        QCOMPARE(rig.host->balloons[0].text, shownText);
        QCOMPARE(rig.host->balloons[0].icon, BalloonIcon::Info);
        QCOMPARE(rig.host->balloons[0].msecs, 10000);
    }

    void balloonReplacesBalloon()
    {
        Rig rig;
        rig.tray->SetIconVisible(true);
        rig.host->log.clear();
        rig.tray->ShowBalloon(QStringLiteral("不能正常联机？联机时有错误？"), QStringLiteral("请点我解决！"),
                              BalloonIcon::Info, 10);
        rig.tray->ShowBalloon(QStringLiteral("连接成功"), QStringLiteral("摘要"), BalloonIcon::Info, 10);
        // The first balloon is taken down before the second goes up.
        QCOMPARE(rig.host->log, QStringList({QStringLiteral("balloon"), QStringLiteral("clear"),
                                             QStringLiteral("balloon")}));
        QCOMPARE(rig.host->balloons.last().title, QStringLiteral("连接成功"));
        QVERIFY(rig.host->balloonUp);
    }

    void balloonWithoutIcon()
    {
        Rig rig;
        QVERIFY(!rig.tray->ShowBalloon(QStringLiteral("t"), QStringLiteral("x"), BalloonIcon::Info, 10));
        QVERIFY(rig.host->balloons.isEmpty());
    }

    void balloonTimeoutDoesNotOverflow()
    {
        Rig rig;
        rig.tray->SetIconVisible(true);
        rig.tray->ShowBalloon(QStringLiteral("t"), QStringLiteral("x"), BalloonIcon::Info, INT_MAX);
        QVERIFY(rig.host->balloons.last().msecs > 0);
        rig.tray->ShowBalloon(QStringLiteral("t"), QStringLiteral("x"), BalloonIcon::Info, -5);
        QCOMPARE(rig.host->balloons.last().msecs, 0);
    }

    void clickVersusDoubleClick_data()
    {
        QTest::addColumn<bool>("trayDoubleClicks");
        QTest::addColumn<bool>("doubleClick");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("doubleClicks");
        QTest::newRow("single click reports a click after the double-click time") << true << false << 1 << 0;
        QTest::newRow("double-click suppresses the click") << true << true << 0 << 1;
        QTest::newRow("tray without double-clicks: its click is the double-click") << false << false << 0 << 1;
    }
    void clickVersusDoubleClick()
    {
        QFETCH(bool, trayDoubleClicks);
        QFETCH(bool, doubleClick);
        QFETCH(int, clicks);
        QFETCH(int, doubleClicks);
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(60);
        Rig rig;
        rig.host->doubleClicks = trayDoubleClicks;
        int clicked = 0;
        int doubled = 0;
        rig.tray->OnClick = [&](TTrayIcon *) { ++clicked; };
        rig.tray->OnDblClick = [&](TTrayIcon *) { ++doubled; };
        if (doubleClick)
            rig.host->doubleClick();
        else
            rig.host->click();
        QCOMPARE(clicked, 0); // the click waits for the double-click time
        QCOMPARE(doubled, doubleClicks);
        QVERIFY(rig.tray->clickDelayTimer().Enabled());
        // The delay timer stops itself before it decides, so once it is off the decision is made.
        QTRY_VERIFY_WITH_TIMEOUT(!rig.tray->clickDelayTimer().Enabled(), 2000);
        QCOMPARE(clicked, clicks);
        QCOMPARE(doubled, doubleClicks);
    }

    void disabledBlocksClicksNotBalloonClicks()
    {
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(30);
        Rig rig;
        QMenu menu;
        rig.tray->SetPopupMenu(&menu);
        int clicked = 0, doubled = 0, balloon = 0;
        rig.tray->OnClick = [&](TTrayIcon *) { ++clicked; };
        rig.tray->OnDblClick = [&](TTrayIcon *) { ++doubled; };
        rig.tray->OnBalloonHintClick = [&](TTrayIcon *) { ++balloon; };
        rig.tray->SetEnabled(false);
        QVERIFY(rig.host->menu.isNull()); // no menu either while disabled
        rig.host->click();
        rig.host->doubleClick();
        rig.host->clickBalloon();
        QCOMPARE(balloon, 1);
        QCOMPARE(doubled, 0);
        rig.tray->SetEnabled(true);
        QCOMPARE(rig.host->menu.data(), &menu);
        rig.host->click();
        QTRY_COMPARE_WITH_TIMEOUT(clicked, 1, 2000); // only the click made while enabled
    }

    void doubleClickRunsDefaultItem_data()
    {
        QTest::addColumn<bool>("withDefault");
        QTest::addColumn<bool>("leftPopup");
        QTest::addColumn<int>("runs");
        QTest::newRow("no default item: nothing runs") << false << false << 0;
        QTest::newRow("default item runs") << true << false << 1;
        QTest::newRow("left popup: default item not run") << true << true << 0;
    }
    void doubleClickRunsDefaultItem()
    {
        QFETCH(bool, withDefault);
        QFETCH(bool, leftPopup);
        QFETCH(int, runs);
        Rig rig;
        QMenu menu;
        QAction *item = menu.addAction(QStringLiteral("SHOW-MOSTRA"));
        int ran = 0;
        connect(item, &QAction::triggered, this, [&] { ++ran; });
        if (withDefault)
            menu.setDefaultAction(item);
        rig.tray->SetPopupMenu(&menu);
        rig.tray->SetLeftPopup(leftPopup);
        rig.host->doubleClick();
        menu.hide();
        QCOMPARE(ran, runs);
    }

    void menuReferenceClearedWhenDestroyed()
    {
        Rig rig;
        auto *menu = new QMenu;
        rig.tray->SetPopupMenu(menu);
        QCOMPARE(rig.host->menu.data(), menu);
        delete menu;
        QVERIFY(rig.tray->PopupMenu() == nullptr);
        rig.host->doubleClick(); // must not touch the dead menu
    }

    void iconIndexClamped_data()
    {
        QTest::addColumn<int>("images");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("index");
        QTest::newRow("no list: always 0") << 0 << 3 << 0;
        QTest::newRow("inside the list") << 3 << 1 << 1;
        QTest::newRow("past the end: last image") << 3 << 7 << 2;
        QTest::newRow("negative: first image") << 3 << -2 << 0;
    }
    void iconIndexClamped()
    {
        QFETCH(int, images);
        QFETCH(int, asked);
        QFETCH(int, index);
        Rig rig;
        TIconList list;
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < images; ++i)
            list.Images << coloured(colours[i]);
        if (images)
            rig.tray->SetIconList(&list);
        rig.tray->SetIconIndex(asked);
        QCOMPARE(rig.tray->IconIndex(), index);
        if (images)
            QCOMPARE(rig.host->icon.cacheKey(), list.Images[index].cacheKey());
    }

    void iconListDestroyedResetsIndex()
    {
        Rig rig;
        auto *list = new TIconList;
        list->Images << coloured(Qt::red) << coloured(Qt::green);
        rig.tray->SetIconList(list);
        rig.tray->SetIconIndex(1);
        delete list;
        QVERIFY(rig.tray->IconList() == nullptr);
        QCOMPARE(rig.tray->IconIndex(), 0);
    }

    void cycleWrapsAndReportsNextIndex()
    {
        Rig rig;
        TIconList list;
        list.Images << coloured(Qt::red) << coloured(Qt::green) << coloured(Qt::blue);
        rig.tray->SetIconList(&list);
        QList<int> next;
        rig.tray->OnCycle = [&](TTrayIcon *, int n) { next << n; };
        rig.tray->SetCycleInterval(10);
        rig.tray->SetCycleIcons(true);
        QTRY_VERIFY_WITH_TIMEOUT(next.size() >= 4, 3000);
        rig.tray->SetCycleIcons(false);
        QCOMPARE(next.mid(0, 4), QList<int>({1, 2, 0, 1}));
        QVERIFY(!rig.tray->iconCycleTimer().Enabled());
        rig.tray->SetCycleInterval(5); // a new interval does not start a stopped animation
        QVERIFY(!rig.tray->iconCycleTimer().Enabled());
        rig.tray->SetCycleIcons(true);
        QCOMPARE(rig.tray->iconCycleTimer().Interval(), 5u);
        rig.tray->SetCycleInterval(0); // no interval, no animation
        QVERIFY(!rig.tray->iconCycleTimer().Enabled());
    }

    void minimizeToTray_data()
    {
        QTest::addColumn<bool>("toTray");
        QTest::newRow("minimise with MinimizeToTray hides the window") << true;
        QTest::newRow("minimise without it is an ordinary minimise") << false;
    }
    void minimizeToTray()
    {
        QFETCH(bool, toTray);
        Rig rig;
        int told = 0;
        rig.tray->OnMinimizeToTray = [&](TTrayIcon *) { ++told; };
        rig.tray->SetMinimizeToTray(toTray);
        rig.tray->Loaded();
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        rig.window.showMinimized();
        if (toTray) {
            QTRY_VERIFY(!rig.window.isVisible());
            QVERIFY(rig.tray->IconVisible());
            QVERIFY(rig.host->visible);
            QCOMPARE(told, 1);
            rig.tray->RestoreMainWindow();
            QVERIFY(rig.window.isVisible());
            QVERIFY(!rig.window.isMinimized());
        } else {
            QCoreApplication::processEvents();
            QVERIFY(rig.window.isVisible());
            QVERIFY(rig.window.isMinimized());
            QCOMPARE(told, 0);
        }
    }

    void startupCanKeepWindowHidden()
    {
        Rig rig;
        rig.tray->OnStartup = [](TTrayIcon *, bool &show) {
            QVERIFY(show);
            show = false;
        };
        rig.tray->SetIconVisible(true);
        rig.tray->Loaded();
        rig.window.show(); // the owner shows itself after loading, as the main window does
        QTRY_VERIFY(!rig.window.isVisible());
        QVERIFY(rig.host->visible);
        rig.tray->RestoreMainWindow(); // and the way back works
        QCoreApplication::processEvents();
        QVERIFY(rig.window.isVisible());
    }
};

QTEST_MAIN(TestTrayIcon)
#include "tst_trayicon.moc"
