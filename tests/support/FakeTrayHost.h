#pragma once

#include "app/TrayHost.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace bramblet::test {

struct RecordedBalloon {
    QString title;
    QString text;
    BalloonIcon icon = BalloonIcon::None;
    int msecs = 0;
};

// Records what the notification area would show, and lets a test play the user's clicks.
class FakeTrayHost : public ITrayHost {
public:
    bool trayAvailable() const override { return available; }
    bool trayShowsMessages() const override { return available && showsMessages; }
    bool reportsDoubleClick() const override { return doubleClicks; }
    void setIcon(const QIcon &i) override { icon = i; }
    void setToolTip(const QString &tip) override { toolTip = tip; }
    void setVisible(bool v) override
    {
        visible = v;
        log << (v ? QStringLiteral("show") : QStringLiteral("hide"));
    }
    void setMenu(QMenu *m) override { menu = m; }
    void showMessage(const QString &title, const QString &text, BalloonIcon i, int msecs) override
    {
        balloons.append(RecordedBalloon{title, text, i, msecs});
        balloonUp = true;
        log << QStringLiteral("balloon");
    }
    void clearMessage() override
    {
        balloonUp = false;
        log << QStringLiteral("clear");
    }

    void click() { emit activated(Activation::Click); }
    void doubleClick()
    {
        // A double-click reaches Qt as a click followed by the double-click itself.
        emit activated(Activation::Click);
        emit activated(Activation::DoubleClick);
    }
    void clickBalloon()
    {
        balloonUp = false;
        emit messageClicked();
    }
    void setAvailable(bool a)
    {
        available = a;
        emit availabilityChanged(a);
    }

    bool available = true;
    bool showsMessages = true;
    bool doubleClicks = true;
    bool visible = false;
    bool balloonUp = false;
    QIcon icon;
    QString toolTip;
    QPointer<QMenu> menu;
    QList<RecordedBalloon> balloons;
    QStringList log;
};

} // namespace bramblet::test
