#pragma once

// The player's firewalld, asked over the system bus as the player's own user. Opening ports
// needs no root code of ours: firewalld asks polkit itself. Every call is asynchronous, so
// the window never waits on it.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include "core/router.h"

#include <functional>
#include <vector>

namespace bramblet {

class FirewalldPorts : public QObject {
    Q_OBJECT
public:
    enum class State {
        Absent, // no firewalld on the bus: nothing to say
        Open,   // the zone lets the link's ports in already
        Closed, // the zone drops at least one of them
    };

    explicit FirewalldPorts(QDBusConnection bus, QObject *parent = nullptr);
    ~FirewalldPorts() override;

    // The zone of `interfaceName` (firewalld's default zone when the interface has none of its
    // own) and whether it lets the link's ports in.
    void check(const QString &interfaceName, std::function<void(State, const QString &zone)> done);
    // Opens the ports in `zone` in the running firewall only, each for at most `timeoutSeconds`
    // (so they close on their own when the program is killed); `done` learns whether all were.
    void open(const QString &zone, int timeoutSeconds, std::function<void(bool)> done);
    // Closes what open opened; nothing when it opened nothing.
    void close();

private:
    void queryPorts(const QString &zone, std::function<void(State, const QString &)> done);
    void removePort(const QString &zone, const router::LinkPort &port);

    QDBusConnection bus_;
    QString openedZone_;
    std::vector<router::LinkPort> added_; // only these are closed again: one open before stays
    bool opening_ = false;                // between open and close: what firewalld adds meanwhile is ours
};

} // namespace bramblet
