// The tray icon in a StatusNotifier tray, as on KDE and on GNOME with the AppIndicator
// extension: Qt's own D-Bus tray item on a private X display and a private session bus, on
// which the test plays the desktop's watcher and host.
#include "app/Services.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "support/DesktopSession.h"
#include "support/MainWindowRig.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QtTest>

#include <memory>

using namespace bramblet;

// The desktop's StatusNotifierWatcher, with a host registered. It lives on a thread of its
// own: Qt asks it about the host with a blocking call from the main thread.
class StatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&mutex_);
        return items_;
    }

public slots:
    void RegisterStatusNotifierItem(const QString &service)
    {
        {
            QMutexLocker lock(&mutex_);
            items_ << service;
        }
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString &) { }

signals:
    void StatusNotifierItemRegistered(const QString &service);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex mutex_;
    QStringList items_;
};

class TestTrayStatusNotifier : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!test::currentDesktop()->skipReason.isEmpty())
            QSKIP(qPrintable(test::currentDesktop()->skipReason));
        watcherThread.start();
        watcher.moveToThread(&watcherThread);
        desktop = QDBusConnection::connectToBus(test::currentDesktop()->busAddress, QStringLiteral("desktop"));
        QVERIFY2(desktop.isConnected(), qPrintable(desktop.lastError().message()));
        // The watcher's D-Bus side is made in its own thread.
        bool registered = false;
        QMetaObject::invokeMethod(
            &watcher,
            [&] {
                registered = desktop.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                 QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals
                                     | QDBusConnection::ExportAllProperties)
                    && desktop.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            },
            Qt::BlockingQueuedConnection);
        QVERIFY(registered);

        // The program's own tray and notifications: the desktop's.
        rig.services.trayHost = {};
        rig.services.notifications = {};
        rig.make().show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Qt's item announces itself to the watcher once the icon is shown.
        QTRY_COMPARE_WITH_TIMEOUT(watcher.items().size(), 1, 15000);
    }

    void clickOnTheIconBringsTheWindowBack()
    {
        QVERIFY(form->TrayIcon1->host().trayAvailable());
        form->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 10000); // into the tray
        // The host's left click: an activation of the item, never a double-click.
        QDBusMessage activate
            = QDBusMessage::createMethodCall(watcher.items().constFirst(), QStringLiteral("/StatusNotifierItem"),
                QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
        activate << 10 << 10;
        const QDBusPendingCall call = desktop.asyncCall(activate);
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 10000);
        QVERIFY(!form->isMinimized());
        QTRY_VERIFY_WITH_TIMEOUT(call.isFinished(), 10000);
        QVERIFY2(!call.isError(), qPrintable(call.error().message()));
    }

    void cleanupTestCase()
    {
        form.reset();
        if (watcherThread.isRunning())
            QMetaObject::invokeMethod(
                &watcher,
                [this] {
                    desktop.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
                    desktop.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
                    watcher.moveToThread(QCoreApplication::instance()->thread());
                },
                Qt::BlockingQueuedConnection);
        QDBusConnection::disconnectFromBus(QStringLiteral("desktop"));
        watcherThread.quit();
        watcherThread.wait(10000);
    }

private:
    StatusNotifierWatcher watcher;
    QThread watcherThread;
    QDBusConnection desktop { QString() };
    test::MainWindowRig rig;
    std::unique_ptr<TBrambletMainForm> &form = rig.form;
};

int main(int argc, char *argv[])
{
    return test::runOnPrivateDesktop<TestTrayStatusNotifier>(argc, argv, test::TrayHost::SessionBus);
}

#include "tst_traystatusnotifier.moc"
