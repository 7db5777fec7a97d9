#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace bramblet::platform {

// Waits for other processes and slow work without blocking the event loop: the caller's
// thread keeps handling events (the window answers its window manager, sockets and timers
// run) until the result is there or `timeoutMs` has passed. Callers must allow for handlers
// running meanwhile, as for a modal dialog.

struct ProcessOutcome {
    int exitCode = -1;
    QByteArray output; // standard output
};

// Runs the event loop until `done` answers true or `timeoutMs` has passed, asking it at least
// every `pollMs`.
void loopUntil(const std::function<bool()> &done, int timeoutMs, int pollMs);

// Runs `program` to its end; nothing when it could not start, crashed or took too long
// (then it is killed).
std::optional<ProcessOutcome> runProcess(const QString &program, const QStringList &args, int timeoutMs);

// Runs `work` on a thread of its own; `fallback` when it has not finished in time (it then
// finishes unobserved, so it must own everything it touches).
QString resultOffThread(std::function<QString()> work, int timeoutMs, const QString &fallback);

} // namespace bramblet::platform
