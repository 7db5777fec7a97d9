#pragma once

// The main window with test doubles around it: boxes recorded (the error box too), a quiet
// desktop, a fake tray host and notification service, quits and balloon clicks counted, and
// the hosts guard on the test's scratch hosts file (never the machine's). A test sets what it needs in
// `services` before make(); what it leaves unset is the program's own (QuietDesktop.h).

#include "app/ErrorBox.h"
#include "app/TrayIcon.h"
#include "app/UnitDuetra.h"
#include "support/FakeConnectDialog.h"
#include "support/FakeNotifications.h"
#include "support/FakeTrayHost.h"
#include "support/QuietDesktop.h"
#include "support/RecordingMessages.h"

#include <QtTest>

#include <memory>

namespace bramblet::test {

struct MainWindowRig {
    RecordingMessages messages;
    MainFormServices services;
    FakeTrayHost *host = nullptr;
    FakeConnectDialog *dialog = nullptr;
    FakeNotifications *notes = nullptr;
    // What the fake desktop offers, read when the window is made.
    bool trayAvailable = true;
    bool notificationsAvailable = true;
    int quits = 0;
    int balloonClicks = 0;
    std::unique_ptr<TBrambletMainForm> form;

    MainWindowRig()
    {
        installErrorBox(&messages);
        services.messages = &messages;
        services.quitApplication = [this] { ++quits; };
        services.trayHost = [this] {
            auto h = std::make_unique<FakeTrayHost>();
            h->available = trayAvailable;
            host = h.get();
            return std::unique_ptr<ITrayHost>(std::move(h));
        };
        services.notifications = [this] {
            auto n = std::make_unique<FakeNotifications>();
            n->available = notificationsAvailable;
            notes = n.get();
            return std::unique_ptr<INotificationService>(std::move(n));
        };
    }
    // The window made at once, on `hostsPath` through a guard in this process.
    MainWindowRig(const QString &hostsPath, const QString &programFolder)
        : MainWindowRig()
    {
        services.hostsGuard = hostsGuardOn(hostsPath);
        services.programFolder = programFolder;
        make();
    }
    ~MainWindowRig()
    {
        // The window's close may still report; the boxes are gone after this.
        form.reset();
        setErrorSink({});
    }
    MainWindowRig(const MainWindowRig &) = delete;
    MainWindowRig &operator=(const MainWindowRig &) = delete;

    // A connect dialog whose outcome the test sets, instead of the real one.
    void fakeDialog()
    {
        services.createConnectDialog = [this](QWidget *) {
            auto d = std::make_unique<FakeConnectDialog>();
            dialog = d.get();
            return std::unique_ptr<IConnectDialog>(std::move(d));
        };
    }

    TBrambletMainForm &make()
    {
        quietDesktop(services);
        form.reset();
        form = std::make_unique<TBrambletMainForm>(services);
        return *form;
    }

    // True once a queued turn of the event loop has passed: what the window posted before
    // has run.
    [[nodiscard]] bool queuedTurnPassed()
    {
        bool turned = false;
        QMetaObject::invokeMethod(form.get(), [&turned] { turned = true; }, Qt::QueuedConnection);
        return QTest::qWaitFor([&turned] { return turned; });
    }

    // Balloon clicks counted, then handled as the window's own.
    void countBalloonClicks()
    {
        form->TrayIcon1->OnBalloonHintClick = [this](TTrayIcon *) {
            ++balloonClicks;
            form->TrayIcon1BalloonHintClick();
        };
    }
};

} // namespace bramblet::test
