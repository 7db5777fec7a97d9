#pragma once

// A test's whole desktop: a private display with a tray host on it (Qt docks into the X11
// tray and draws its own balloons) or a session bus of its own beside it (Qt's tray goes to a
// StatusNotifier watcher there), set up before the QApplication exists and ended after it.

#include "support/PrivateDisplay.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace bramblet::test {

enum class TrayHost { X11Tray, SessionBus };

struct DesktopSession {
    PrivateDisplay display;
    QString busAddress; // with TrayHost::SessionBus
    QString skipReason; // empty when the desktop is up
};

inline DesktopSession *&currentDesktop()
{
    static DesktopSession *session = nullptr;
    return session;
}

// The body of a test program's main(): runs `Test` on a private desktop; the test reads
// currentDesktop() and skips with its reason where the desktop could not be made.
template <class Test> int runOnPrivateDesktop(int argc, char *argv[], TrayHost host)
{
    DesktopSession session;
    currentDesktop() = &session;
    QTemporaryDir runtime; // made before Qt runs; removed after it
    if (!runtime.isValid()) {
        session.skipReason = QStringLiteral("no temporary folder");
    } else if (!session.display.start()) {
        session.skipReason = QStringLiteral("no X display: ") + session.display.reason();
    } else if (host == TrayHost::X11Tray) {
        if (!session.display.startTrayHost())
            session.skipReason = QStringLiteral("no tray host: ") + session.display.reason();
    } else {
        session.busAddress = QString::fromStdString(session.display.startSessionBus(runtime.path().toStdString()));
        if (session.busAddress.isEmpty())
            session.skipReason = QStringLiteral("no session bus: ") + session.display.reason();
    }
    if (session.skipReason.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", session.display.display().toLocal8Bit());
        if (host == TrayHost::X11Tray)
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", session.busAddress.toLocal8Bit());
        QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
    int status = 0;
    {
        QApplication app(argc, argv);
        Test test;
        status = QTest::qExec(&test, argc, argv);
    }
    session.display.stop();
    currentDesktop() = nullptr;
    return status;
}

} // namespace bramblet::test
