#pragma once

#include "app/TrayHost.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <memory>

namespace bramblet {

// The desktop's notification service, used for balloons where no tray can show them. It holds
// at most one notification of ours at a time, as the tray holds one balloon.
class INotificationService : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The service exists on this desktop (asked each time: it may come and go).
    virtual bool isAvailable() = 0;
    // Shows the notification, replacing ours if one is up; the answer comes as shown() or
    // failed().
    virtual void show(const QString &title, const QString &text, BalloonIcon icon, int msecs) = 0;
    virtual void close() = 0;

signals:
    void shown();
    void failed();
    // The user clicked our notification (its default action).
    void clicked();
    // Ours went away: by its time-out, or dismissed or closed otherwise.
    void closed(bool timedOut);
};

// org.freedesktop.Notifications on the given bus (the session bus in the program).
std::unique_ptr<INotificationService> makeDBusNotifications(const QDBusConnection &bus);
std::unique_ptr<INotificationService> makeDesktopNotifications();

} // namespace bramblet
