#include "app/SimpleTimer.h"

#include "core/guard.h"

#include <climits>

namespace bramblet {

TSimpleTimer::TSimpleTimer(TCallback callback) : TSimpleTimer(1000, std::move(callback)) {}

TSimpleTimer::TSimpleTimer(unsigned interval, TCallback callback) : interval_(interval), callback_(std::move(callback))
{
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { guarded([this] { tick(); }); });
}

TSimpleTimer::~TSimpleTimer() = default;

bool TSimpleTimer::Start()
{
    if (interval_ == 0)
        return false;
    // QTimer counts in int milliseconds; longer intervals run at the longest it can.
    timer_.start(static_cast<int>(interval_ > unsigned(INT_MAX) ? unsigned(INT_MAX) : interval_));
    return true;
}

void TSimpleTimer::Stop() { timer_.stop(); }

void TSimpleTimer::SetInterval(unsigned interval)
{
    interval_ = interval;
    if (!timer_.isActive())
        return;
    if (interval_ == 0)
        Stop();
    else
        Start();
}

void TSimpleTimer::tick()
{
    if (autoDisable_)
        Stop();
    // The callback may destroy this timer; nothing of it is touched afterwards.
    if (callback_) {
        const TCallback callback = callback_;
        callback();
    }
}

} // namespace bramblet
