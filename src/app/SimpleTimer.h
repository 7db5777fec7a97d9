#pragma once

#include <QTimer>

#include <functional>

namespace bramblet {

// A small repeating timer with a callback, as the tray icon uses it: a zero interval cannot
// run, starting a running timer starts its interval afresh, and an auto-disabling timer stops
// before its callback runs (so the callback may start it again).
class TSimpleTimer {
public:
    using TCallback = std::function<void()>;

    explicit TSimpleTimer(TCallback callback = {});
    TSimpleTimer(unsigned interval, TCallback callback);
    TSimpleTimer(const TSimpleTimer &) = delete;
    TSimpleTimer &operator=(const TSimpleTimer &) = delete;
    ~TSimpleTimer();

    // False, and nothing happens, while the interval is 0.
    bool Start();
    void Stop();

    bool Enabled() const { return timer_.isActive(); }
    unsigned Interval() const { return interval_; }
    // A running timer restarts with the new interval, or stops when it is 0.
    void SetInterval(unsigned interval);
    bool AutoDisable() const { return autoDisable_; }
    void SetAutoDisable(bool autoDisable) { autoDisable_ = autoDisable; }
    void SetOnTimer(TCallback callback) { callback_ = std::move(callback); }

private:
    void tick();

    QTimer timer_;
    unsigned interval_ = 1000;
    bool autoDisable_ = false;
    TCallback callback_;
};

} // namespace bramblet
