#pragma once

// Asks the home router to forward the link's ports to this machine, through NAT-PMP or UPnP
// IGD. Both protocols block, so every question runs on a worker thread of its own, one after
// the other, each bounded in time; the answers come back to the owner's thread as queued calls.

#include "core/router.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace bramblet {

// The main window's view of the router. Every call returns at once.
class IPortMapper {
public:
    enum class Stage {
        Discovered, // the search at start
        Opened,     // the link's ports asked for (also each renewal)
        Closed,     // the ports this program opened are removed
    };

    virtual ~IPortMapper() = default;
    // Told each answer, on the thread that made the mapper.
    std::function<void(Stage, const router::RouterAnswer &)> onAnswer;

    virtual void discover() = 0;
    // Forwards router::LinkPorts to this machine and keeps them until closePorts.
    virtual void openPorts() = 0;
    // Removes what openPorts made; asks the router nothing when nothing was made.
    virtual void closePorts() = 0;
    // For the program's end: removes what was made, waiting for it at most `bound`. Nothing
    // is told afterwards.
    virtual void shutdown(std::chrono::milliseconds bound) = 0;
};

struct RouterOptions {
    // How long each protocol's search waits for an answer.
    int natpmpWaitMs = 1500;
    int upnpWaitMs = 2000;
    std::uint32_t leaseSeconds = router::LeaseSeconds;
    // How long the removals at close may take together before the close gives up on them.
    int closeBoundMs = 5000;
    // How long one second of the renewal schedule lasts; tests shorten it.
    std::chrono::milliseconds renewalSecond{1000};
    // Where what we mapped is recorded, so a later run removes what a killed one left; none
    // when empty.
    std::string recordPath;
    // This machine's address when no route leads to a gateway; called on the worker thread,
    // since it may wait on a name server.
    std::function<std::string()> localAddress;
};

// The source address this machine would use towards `peer` (a dotted quad): the route's
// choice, made by the kernel without sending anything. Empty when there is no route.
std::string sourceAddressTowards(const std::string &peer);

class RouterPortMapper : public QObject, public IPortMapper {
    Q_OBJECT
public:
    explicit RouterPortMapper(RouterOptions options = {}, QObject *parent = nullptr);
    ~RouterPortMapper() override;

    void discover() override;
    void openPorts() override;
    void closePorts() override;
    void shutdown(std::chrono::milliseconds bound) override;

    struct Shared;

private:
    void answered(Stage stage, const router::RouterAnswer &answer, std::uint32_t lease);
    void post(int job);

    std::shared_ptr<Shared> shared_;
    QTimer renewTimer_;
    std::chrono::milliseconds renewalSecond_;
    bool wanted_ = false; // the ports are wanted: renewals go on
    int failures_ = 0;    // renewal rounds in a row the router did not answer
    bool searchAgain_ = false;
};

} // namespace bramblet
