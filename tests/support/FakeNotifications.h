#pragma once

#include "app/Notifications.h"

#include <QList>
#include <QString>

namespace bramblet::test {

struct RecordedNotification {
    QString title;
    QString text;
    BalloonIcon icon = BalloonIcon::None;
    int msecs = 0;
};

// Records what the desktop's notification service would have shown; the test plays the
// service's answers and the user's clicks.
class FakeNotifications : public INotificationService {
public:
    bool isAvailable() override { return available; }
    void show(const QString &title, const QString &text, BalloonIcon icon, int msecs) override
    {
        shown.append(RecordedNotification{title, text, icon, msecs});
        up = true;
    }
    void close() override
    {
        ++closes;
        up = false;
    }

    void click() { emit clicked(); }
    void expire()
    {
        up = false;
        emit closed(true);
    }
    void fail()
    {
        up = false;
        emit failed();
    }

    bool available = true;
    bool up = false;
    int closes = 0;
    QList<RecordedNotification> shown;
};

} // namespace bramblet::test
