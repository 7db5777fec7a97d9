#include "app/Firewalld.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace bramblet {

namespace {

const QString kService = QStringLiteral("org.fedoraproject.FirewallD1");
const QString kPath = QStringLiteral("/org/fedoraproject/FirewallD1");
const QString kZone = QStringLiteral("org.fedoraproject.FirewallD1.zone");
const QString kMain = QStringLiteral("org.fedoraproject.FirewallD1");

QString portNumber(const router::LinkPort &port) { return QString::number(port.port); }
QString protocol(const router::LinkPort &port) { return QString::fromLatin1(router::protocolName(port.protocol)).toLower(); }

} // namespace

FirewalldPorts::FirewalldPorts(QDBusConnection bus, QObject *parent) : QObject(parent), bus_(std::move(bus)) {}

FirewalldPorts::~FirewalldPorts() { close(); }

namespace {

// Calls `method`; `then` gets the reply, or nothing when firewalld did not answer or refused
// (`refusal` then holds firewalld's error text). Replies that arrive after `owner` is gone
// are dropped with their watcher.
void call(QObject *owner, const QDBusConnection &bus, const QString &interface, const QString &method,
          const QVariantList &arguments, std::function<void(const QDBusMessage *, const QString &refusal)> then)
{
    if (!bus.isConnected()) { // no system bus at all: as if firewalld were not there, told later as always
        QTimer::singleShot(0, owner, [then = std::move(then)] { then(nullptr, {}); });
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message, 10000), owner);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, owner, [watcher, then = std::move(then)] {
        const QDBusMessage reply = watcher->reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            then(&reply, {});
        else
            then(nullptr, reply.errorMessage());
        watcher->deleteLater();
    });
}

} // namespace

void FirewalldPorts::check(const QString &interfaceName, std::function<void(State, const QString &)> done)
{
    call(this, bus_, kZone, QStringLiteral("getZoneOfInterface"), {interfaceName},
         [this, done](const QDBusMessage *reply, const QString &) {
             if (!reply || reply->arguments().isEmpty()) {
                 done(State::Absent, {});
                 return;
             }
             const QString zone = reply->arguments().first().toString();
             if (!zone.isEmpty()) {
                 queryPorts(zone, done);
                 return;
             }
             call(this, bus_, kMain, QStringLiteral("getDefaultZone"), {}, [this, done](const QDBusMessage *main, const QString &) {
                 if (!main || main->arguments().isEmpty())
                     done(State::Absent, {});
                 else
                     queryPorts(main->arguments().first().toString(), done);
             });
         });
}

void FirewalldPorts::queryPorts(const QString &zone, std::function<void(State, const QString &)> done)
{
    struct Tally {
        std::size_t left = router::LinkPorts.size();
        bool allOpen = true;
        bool answered = true;
    };
    auto tally = std::make_shared<Tally>();
    for (const router::LinkPort &port : router::LinkPorts) {
        call(this, bus_, kZone, QStringLiteral("queryPort"), {zone, portNumber(port), protocol(port)},
             [tally, zone, done](const QDBusMessage *reply, const QString &) {
                 tally->answered = tally->answered && reply && !reply->arguments().isEmpty();
                 tally->allOpen = tally->allOpen && reply && !reply->arguments().isEmpty() && reply->arguments().first().toBool();
                 if (--tally->left == 0)
                     done(!tally->answered ? State::Absent : tally->allOpen ? State::Open : State::Closed, zone);
             });
    }
}

void FirewalldPorts::open(const QString &zone, int timeoutSeconds, std::function<void(bool)> done)
{
    close();
    openedZone_ = zone;
    opening_ = true;
    auto left = std::make_shared<std::size_t>(router::LinkPorts.size());
    auto all = std::make_shared<bool>(true);
    for (const router::LinkPort &port : router::LinkPorts) {
        call(this, bus_, kZone, QStringLiteral("addPort"), {zone, portNumber(port), protocol(port), timeoutSeconds},
             [this, zone, port, left, all, done](const QDBusMessage *reply, const QString &refusal) {
                 // Only what we added is closed later: a port open before stays open. One
                 // added after the close that ended its round (a cancel quicker than firewalld)
                 // goes again at once, unless a new round wants it, whose own add found it open.
                 if (reply && opening_ && zone == openedZone_) {
                     if (std::find(added_.begin(), added_.end(), port) == added_.end())
                         added_.push_back(port);
                 } else if (reply) {
                     removePort(zone, port);
                 }
                 *all = *all && (reply || refusal.startsWith(QLatin1String("ALREADY_ENABLED")));
                 if (--*left == 0 && done)
                     done(*all);
             });
    }
}

void FirewalldPorts::close()
{
    opening_ = false;
    for (const router::LinkPort &port : added_)
        removePort(openedZone_, port);
    added_.clear();
}

void FirewalldPorts::removePort(const QString &zone, const router::LinkPort &port)
{
    // Sent without waiting for the answer.
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kZone, QStringLiteral("removePort"));
    message.setArguments({zone, portNumber(port), protocol(port)});
    bus_.call(message, QDBus::NoBlock);
}

} // namespace bramblet
