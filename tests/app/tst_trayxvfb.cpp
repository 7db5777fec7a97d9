// The tray icon in a real notification area: a private Xvfb display with Debian's trayer as
// the tray host, driven with xdotool as a player would.
#include "app/Services.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "support/DesktopSession.h"
#include "support/MainWindowRig.h"

#include <QApplication>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QWidget>
#include <QtTest>

#include <memory>

using namespace bramblet;

namespace {

QWidget *visibleWidgetOfClass(const char *className)
{
    for (QWidget *w : QApplication::allWidgets())
        if (w->isVisible() && qstrcmp(w->metaObject()->className(), className) == 0)
            return w;
    return nullptr;
}

QPoint centreOf(const QWidget *w) { return w->mapToGlobal(w->rect().center()); }

// Runs xdotool on the private display. The X server queues the input with its times, so
// the test's event loop may wait meanwhile.
bool xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(10000))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString parentOfWindow(WId id)
{
    QProcess p;
    p.start(QStringLiteral("xwininfo"), {QStringLiteral("-children"), QStringLiteral("-id"), QString::number(id)});
    p.waitForFinished(10000);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    for (const QString &line : out.split(QLatin1Char('\n')))
        if (line.trimmed().startsWith(QLatin1String("Parent window id:")))
            return line.trimmed();
    return QString();
}

} // namespace

class TestTrayXvfb : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!test::currentDesktop()->skipReason.isEmpty())
            QSKIP(qPrintable(test::currentDesktop()->skipReason));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 15000);
        rig.services.trayHost = {}; // the program's own: the real tray
        rig.make().show();
        rig.countBalloonClicks();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    void iconDocksInTheTray()
    {
        // Embedded into the tray host's window rather than standing on the root window. The
        // icon shows on the root window first; the host takes it in some time later.
        QString parent;
        const auto docked = [&parent] {
            QWidget *icon = visibleWidgetOfClass("QSystemTrayIconSys");
            parent = icon ? parentOfWindow(icon->winId()) : QString();
            return !parent.isEmpty() && !parent.contains(QLatin1String("(the root window)"));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(docked(), parent.isEmpty() ? "no icon, or xwininfo gave no parent" : qPrintable(parent),
                                  10000);
    }

    void balloonShowsReplacesAndClicks()
    {
        QVERIFY(form->TrayIcon1->ShowBalloon(QStringLiteral("不能正常联机？联机时有错误？"),
                                             QStringLiteral("请点我解决！"), BalloonIcon::Info, 10));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWidgetOfClass("QBalloonTip") != nullptr, 10000);
        QVERIFY(form->TrayIcon1->ShowBalloon(QStringLiteral("连接成功"),
                                             QStringLiteral(" 对方真实地址为：10.0.0.2\r\n 速度：快"), BalloonIcon::Info,
                                             10));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWidgetOfClass("QBalloonTip") != nullptr, 10000);
        int balloons = 0;
        for (QWidget *w : QApplication::allWidgets())
            if (w->isVisible() && qstrcmp(w->metaObject()->className(), "QBalloonTip") == 0)
                ++balloons;
        QCOMPARE(balloons, 1); // replaced, not stacked

        QWidget *tip = visibleWidgetOfClass("QBalloonTip");
        QVERIFY(tip->grab().width() > 0);
        const QPoint at = centreOf(tip);
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_COMPARE_WITH_TIMEOUT(rig.balloonClicks, 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(visibleWidgetOfClass("QBalloonTip") == nullptr, 10000);
    }

    void clearBalloonTakesItDown()
    {
        QVERIFY(form->TrayIcon1->ShowBalloon(QStringLiteral("t"), QStringLiteral("x"), BalloonIcon::Info, 10));
        QTRY_VERIFY_WITH_TIMEOUT(visibleWidgetOfClass("QBalloonTip") != nullptr, 10000);
        form->TrayIcon1->ClearBalloon();
        QTRY_VERIFY_WITH_TIMEOUT(visibleWidgetOfClass("QBalloonTip") == nullptr, 10000);
    }

    void minimiseThenDoubleClickRestores()
    {
        form->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 10000);
        QWidget *icon = visibleWidgetOfClass("QSystemTrayIconSys");
        QVERIFY(icon); // the icon stays while the window is away
        const QPoint at = centreOf(icon);
        QVERIFY(xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                         QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
                         QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")}));
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 10000);
        QVERIFY(!form->isMinimized());
        QCOMPARE(quits, 0);
    }

    void trayGoesAwayAndComesBack()
    {
        form->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 10000);
        test::currentDesktop()->display.stopTrayHosts();
        // The window hid in a tray that is gone: it comes back by itself.
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 10000);
        form->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(form->isMinimized(), 10000);
        QVERIFY(rig.queuedTurnPassed());
        QVERIFY(form->isVisible()); // an ordinary minimise now

        QVERIFY(test::currentDesktop()->display.startTrayHost());
        QTRY_VERIFY_WITH_TIMEOUT(form->TrayIcon1->host().trayAvailable(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(visibleWidgetOfClass("QSystemTrayIconSys") != nullptr, 10000);
        form->TrayIcon1->RestoreMainWindow();
        form->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 10000); // into the tray again
        form->TrayIcon1->RestoreMainWindow();
    }

    void cleanupTestCase() { form.reset(); }

private:
    test::MainWindowRig rig;
    std::unique_ptr<TBrambletMainForm> &form = rig.form;
    int &quits = rig.quits;
};

int main(int argc, char *argv[])
{
    return test::runOnPrivateDesktop<TestTrayXvfb>(argc, argv, test::TrayHost::X11Tray);
}

#include "tst_trayxvfb.moc"
