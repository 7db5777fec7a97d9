#include "app/TrayHost.h"

#include "app/ErrorBox.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace bramblet {

QString withLineFeeds(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

namespace {

QSystemTrayIcon::MessageIcon qtIcon(BalloonIcon icon)
{
    switch (icon) {
    case BalloonIcon::Info:
        return QSystemTrayIcon::Information;
    case BalloonIcon::Warning:
        return QSystemTrayIcon::Warning;
    case BalloonIcon::Error:
        return QSystemTrayIcon::Critical;
    case BalloonIcon::None:
    case BalloonIcon::Custom:
        break;
    }
    return QSystemTrayIcon::NoIcon;
}

// Qt hands the icon to a StatusNotifier host over D-Bus when a watcher says a host is
// registered (the same two looks Qt makes); its balloons then become desktop notifications,
// which may not exist, and a click reaches us as an activation, never as a double-click.
// Otherwise Qt docks into the X11 tray and draws its own balloons.
bool statusNotifierInUse()
{
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(watcher).value())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcher, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, 5000);
    return reply.isValid() && reply.value().variant().toBool();
}

class QtTrayHost : public ITrayHost {
public:
    QtTrayHost()
        : statusNotifier_(statusNotifierInUse()), available_(QSystemTrayIcon::isSystemTrayAvailable())
    {
        connect(&tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            switch (r) {
            case QSystemTrayIcon::Trigger:
                emit activated(Activation::Click);
                break;
            case QSystemTrayIcon::DoubleClick:
                emit activated(Activation::DoubleClick);
                break;
            case QSystemTrayIcon::Context:
                emit activated(Activation::Context);
                break;
            case QSystemTrayIcon::MiddleClick:
                emit activated(Activation::Middle);
                break;
            case QSystemTrayIcon::Unknown:
                break;
            }
        });
        connect(&tray_, &QSystemTrayIcon::messageClicked, this, &ITrayHost::messageClicked);
        // Qt tells nobody when a tray appears or goes away; a cheap look every second does.
        watch_.setInterval(1000);
        connect(&watch_, &QTimer::timeout, this, guardedSlot([this] {
                    const bool now = QSystemTrayIcon::isSystemTrayAvailable();
                    if (now != available_) {
                        available_ = now;
                        emit availabilityChanged(now);
                    }
                }));
        watch_.start();
    }

    bool trayAvailable() const override { return available_; }
    bool trayShowsMessages() const override { return available_ && !statusNotifier_; }
    bool reportsDoubleClick() const override { return !statusNotifier_; }
    void setIcon(const QIcon &icon) override { tray_.setIcon(icon); }
    void setToolTip(const QString &tip) override { tray_.setToolTip(withLineFeeds(tip)); }
    void setVisible(bool visible) override { tray_.setVisible(visible); }
    void setMenu(QMenu *menu) override { tray_.setContextMenu(menu); }
    void showMessage(const QString &title, const QString &text, BalloonIcon icon, int msecs) override
    {
        tray_.showMessage(title, withLineFeeds(text), qtIcon(icon), msecs);
    }
    void clearMessage() override
    {
        // Qt's own balloon goes away when asked for an empty one.
        if (!statusNotifier_)
            tray_.showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 0);
    }

private:
    // Looked at before the icon is made, as Qt does when it picks its tray.
    bool statusNotifier_;
    bool available_;
    QSystemTrayIcon tray_;
    QTimer watch_;
};

} // namespace

std::unique_ptr<ITrayHost> makeQtTrayHost() { return std::make_unique<QtTrayHost>(); }

} // namespace bramblet
