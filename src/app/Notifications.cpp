#include "app/Notifications.h"

#include "core/guard.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace bramblet {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
// The service answers at once or not at all; the program never waits long for it.
constexpr int kCallTimeoutMs = 5000;

QString iconName(BalloonIcon icon)
{
    switch (icon) {
    case BalloonIcon::Info:
        return QStringLiteral("dialog-information");
    case BalloonIcon::Warning:
        return QStringLiteral("dialog-warning");
    case BalloonIcon::Error:
        return QStringLiteral("dialog-error");
    case BalloonIcon::None:
    case BalloonIcon::Custom:
        break;
    }
    return QString();
}

class DBusNotifications : public INotificationService {
    Q_OBJECT
public:
    explicit DBusNotifications(const QDBusConnection &bus) : bus_(bus)
    {
        if (!bus_.isConnected())
            return;
        // Only the service's own signals count, and of those only the ones about our id.
        bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                     SLOT(onActionInvoked(uint, QString)));
        bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                     SLOT(onNotificationClosed(uint, uint)));
    }

    bool isAvailable() override
    {
        if (!bus_.isConnected() || !bus_.interface())
            return false;
        QDBusConnectionInterface *bus = bus_.interface();
        if (bus->isServiceRegistered(kService).value())
            return true;
        const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
        return activatable.isValid() && activatable.value().contains(kService);
    }

    void show(const QString &title, const QString &text, BalloonIcon icon, int msecs) override
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
        call << QCoreApplication::applicationName() << uint(current_) << iconName(icon) << title << withLineFeeds(text)
             << QStringList{kDefaultAction, title} << QVariantMap() << qint32(msecs);
        const quint64 request = ++request_;
        auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, request](QDBusPendingCallWatcher *w) {
            guarded([&] { answered(request, *w); });
            w->deleteLater();
        });
    }

    void close() override
    {
        ++request_; // an answer still on its way belongs to a notification that is gone
        if (current_ == 0)
            return;
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
        call << uint(current_);
        current_ = 0;
        bus_.asyncCall(call, kCallTimeoutMs);
    }

private slots:
    void onActionInvoked(uint id, const QString &)
    {
        if (id != 0 && id == current_)
            guarded([this] { emit clicked(); });
    }
    void onNotificationClosed(uint id, uint reason)
    {
        if (id == 0 || id != current_)
            return;
        current_ = 0;
        guarded([&] { emit closed(reason == 1); });
    }

private:
    void answered(quint64 request, QDBusPendingCallWatcher &w)
    {
        const QDBusPendingReply<uint> reply = w;
        if (request != request_) {
            // Superseded or closed meanwhile: take down what the service has just shown.
            if (reply.isValid() && reply.value() != 0 && reply.value() != current_) {
                QDBusMessage call =
                    QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("CloseNotification"));
                call << reply.value();
                bus_.asyncCall(call, kCallTimeoutMs);
            }
            return;
        }
        if (!reply.isValid() || reply.value() == 0) {
            current_ = 0;
            emit failed();
            return;
        }
        current_ = reply.value();
        emit shown();
    }

    QDBusConnection bus_;
    quint32 current_ = 0;
    quint64 request_ = 0;
};

} // namespace

std::unique_ptr<INotificationService> makeDBusNotifications(const QDBusConnection &bus)
{
    return std::make_unique<DBusNotifications>(bus);
}

std::unique_ptr<INotificationService> makeDesktopNotifications()
{
    return makeDBusNotifications(QDBusConnection::sessionBus());
}

} // namespace bramblet

#include "Notifications.moc"
