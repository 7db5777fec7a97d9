// Two real copies of the program in two network namespaces joined by a veth pair: one player
// presses, the other presses two seconds later, and the time from that second press until
// the players can play is measured: each copy's hosts file points the game's service at the
// SERVER and its local server has started. Both orders:
// CLIENT first, then SERVER first. Goal: 12 s or less in either order.
//
//     bench_link_time
//
// One line of figures, or one line saying why it skipped (not root, no namespaces, no X
// display with a tray).
#include "core/hostsfile.h"
#include "harness.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <unistd.h>

#include <cstdio>
#include <memory>

using namespace bramblet::e2e;

namespace {

const QString kServerAddress = QStringLiteral("10.79.0.1");
const QString kClientAddress = QStringLiteral("10.79.0.2");
const QByteArray kHosts = "127.0.0.1  localhost\n";
constexpr int kPauseMs = 2000; // between the two presses
constexpr int kLinkLimitMs = 60000;

struct Side {
    const VirtualDisplay *display = nullptr;
    std::unique_ptr<ProgramCopy> copy;
    QString ns, peer;
    int buttonX = 0;
    QString window;

    QString start()
    {
        const QString why = copy->prepare(kHosts);
        if (!why.isEmpty())
            return why;
        if (!copy->start(ns, display->name()))
            return QStringLiteral("the program cannot be started");
        if (!copy->waitForFirstShow(30000))
            return QStringLiteral("the program did not come up: ") + copy->output();
        window = display->findWindow(kMainTitle);
        if (window.isEmpty() || !display->clickAt(window, kFieldX, kFieldY) || !display->type(window, peer))
            return QStringLiteral("the peer's address cannot be typed");
        return {};
    }
    bool press() const { return display->clickAt(window, buttonX, kButtonY); }
    bool playable() const
    {
        return readText(copy->hostsPath()).contains(kServerAddress + QStringLiteral("  ") +
                                                     QString::fromLatin1(bramblet::hosts::kGatewayHostName)) &&
               hasLine(copy->companionLog(), QStringLiteral("Ostrel"));
    }
};

// Seconds from the second press until both sides can play; negative with `why` set on failure.
double linkTime(const NamespacePair &ns, const VirtualDisplay &serverDisplay, const VirtualDisplay &clientDisplay,
                bool clientFirst, QString &why)
{
    Side server{&serverDisplay, std::make_unique<ProgramCopy>(), ns.a(), kClientAddress, kServerX, {}};
    Side client{&clientDisplay, std::make_unique<ProgramCopy>(), ns.b(), kServerAddress, kClientX, {}};
    for (Side *side : {&server, &client}) {
        why = side->start();
        if (!why.isEmpty())
            return -1;
    }
    Side &first = clientFirst ? client : server;
    Side &second = clientFirst ? server : client;
    if (!first.press()) {
        why = QStringLiteral("cannot press");
        return -1;
    }
    QThread::msleep(kPauseMs);
    if (!second.press()) {
        why = QStringLiteral("cannot press");
        return -1;
    }
    QElapsedTimer clock;
    clock.start();
    QElapsedTimer limit;
    limit.start();
    while (!(server.playable() && client.playable())) {
        if (limit.elapsed() > kLinkLimitMs) {
            why = QStringLiteral("no link within %1 s").arg(kLinkLimitMs / 1000);
            return -1;
        }
        QThread::msleep(20);
    }
    return double(clock.elapsed()) / 1000.0;
}

int skip(const QString &why)
{
    std::printf("bench_link_time: skipped: %s\n", qPrintable(why));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (geteuid() != 0)
        return skip(QStringLiteral("makes network namespaces and needs root"));
    NamespacePair ns(QStringLiteral("lt"));
    QString why = ns.create(kServerAddress, kClientAddress);
    if (!why.isEmpty())
        return skip(why);
    VirtualDisplay serverDisplay, clientDisplay;
    const int base = 300 + int(QRandomGenerator::global()->bounded(80)) * 2;
    why = serverDisplay.start(base);
    if (why.isEmpty())
        why = clientDisplay.start(base + 1);
    if (!why.isEmpty())
        return skip(QStringLiteral("no X display with a tray: ") + why);

    double seconds[2] = {};
    for (const bool clientFirst : {true, false}) {
        seconds[clientFirst ? 0 : 1] = linkTime(ns, serverDisplay, clientDisplay, clientFirst, why);
        if (!why.isEmpty()) {
            std::printf("bench_link_time: failed (%s first): %s\n", clientFirst ? "CLIENT" : "SERVER", qPrintable(why));
            return 1;
        }
    }
    const bool met = seconds[0] <= 12.0 && seconds[1] <= 12.0;
    std::printf("link time from the second press (%d s after the first) to both sides redirected with their local "
                "servers started: CLIENT first %.1f s, SERVER first %.1f s (goal: 12 s or less) %s\n",
                kPauseMs / 1000, seconds[0], seconds[1], met ? "met" : "MISSED");
    return met ? 0 : 1;
}
