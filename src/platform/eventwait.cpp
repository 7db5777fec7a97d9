#include "platform/eventwait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <mutex>
#include <thread>

namespace bramblet::platform {

void loopUntil(const std::function<bool()> &done, int timeoutMs, int pollMs)
{
    if (done())
        return;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || clock.hasExpired(timeoutMs))
            loop.quit();
    });
    tick.start(pollMs);
    loop.exec();
}

std::optional<ProcessOutcome> runProcess(const QString &program, const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    bool ended = false;
    QObject::connect(&p, &QProcess::finished, &p, [&] { ended = true; });
    QObject::connect(&p, &QProcess::errorOccurred, &p, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            ended = true;
    });
    p.start(program, args);
    loopUntil([&] { return ended; }, timeoutMs, 10);
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        loopUntil([&] { return p.state() == QProcess::NotRunning; }, 2000, 10);
        return std::nullopt;
    }
    if (p.error() == QProcess::FailedToStart || p.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return ProcessOutcome{p.exitCode(), p.readAllStandardOutput()};
}

QString resultOffThread(std::function<QString()> work, int timeoutMs, const QString &fallback)
{
    struct Shared {
        std::mutex mutex;
        std::optional<QString> result;
    };
    auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work)] {
        QString r = work();
        const std::lock_guard lock(shared->mutex);
        shared->result = std::move(r);
    }).detach();
    const auto ready = [&] {
        const std::lock_guard lock(shared->mutex);
        return shared->result.has_value();
    };
    loopUntil(ready, timeoutMs, 10);
    const std::lock_guard lock(shared->mutex);
    return shared->result.value_or(fallback);
}

} // namespace bramblet::platform
