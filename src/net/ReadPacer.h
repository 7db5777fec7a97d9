#pragma once

// When a connection's read event may fire. The socket does the I/O (the read notifier, the
// waiting count, the park timer); this decides, so the rule has one place:
//
// - a read event fires when data arrives, and again after each receive while data remains;
// - a handler that receives nothing gets no further read event until more data arrives;
// - a nested event loop inside a read handler gets no read event of this connection until
//   that handler has received (a peer's close stays readable and would spin it).
//
// `armed` (the owner wants read events: connected, or listening) is apart from the phase, and
// the notifier runs only while armed and in phase Free or Held.
//
// phase   | notifier           | entered by                                    | left by
// --------|--------------------|-----------------------------------------------|-----------------------------
// Free    | on while armed     | reset; a receive; a handler that returned;    | handler starts -> Held;
//         |                    | unpark (more data came)                       | park -> Parked
// Held    | on while armed     | a read handler starts                         | receive -> Free; nested
//         |                    |                                               | notification -> HeldOff;
//         |                    |                                               | handler returns -> Free
// HeldOff | off                | a notification while Held (a nested loop)     | receive or handler returns
//         |                    |                                               | -> Free
// Parked  | off; a timer polls | a handler that took nothing left the waiting  | receive, more data than
//         | for data, hang-up  | count at or below what it found               | parked, or disarm -> Free
//
// Inside a read event the pacer also counts the bytes known to wait (a lower bound, which
// spares a query per receive) and the bytes the handler took.
namespace bramblet {

class ReadPacer {
public:
    // Read events handed to one connection per notification before the loop gets its turn.
    static constexpr int maxRounds = 64;
    // How often a parked connection looks for more data or a hang-up.
    static constexpr int parkIntervalMs = 50;

    enum class Phase { Free, Held, HeldOff, Parked };

    Phase phase() const { return phase_; }
    bool armed() const { return armed_; }
    bool held() const { return phase_ == Phase::Held || phase_ == Phase::HeldOff; }
    bool parked() const { return phase_ == Phase::Parked; }
    int parkedWaiting() const { return parkedWaiting_; }
    // Whether the read notifier of an open handle should run.
    bool notifierOn() const { return armed_ && (phase_ == Phase::Free || phase_ == Phase::Held); }

    // A new handle: nothing armed, nothing held or parked.
    void reset()
    {
        armed_ = false;
        phase_ = Phase::Free;
    }
    // Returns true when this ended a park (the caller stops its timer).
    bool arm(bool on)
    {
        armed_ = on;
        return !on && leave(Phase::Parked);
    }
    // A read notification while a handler of this connection is running and has not
    // received: held off until it does.
    void notifiedWhileHeld() { phase_ = Phase::HeldOff; }

    // One round of a read event: the handler is about to run with `waiting` bytes known.
    void roundStarts(int waiting)
    {
        waitingHint_ = waiting;
        consumed_ = 0;
        phase_ = Phase::Held;
    }
    // The handler returned (a park a nested read event made stays).
    void handlerReturned()
    {
        if (held())
            phase_ = Phase::Free;
    }
    // The read event is over.
    void eventEnds() { waitingHint_ = 0; }
    long long consumed() const { return consumed_; }
    int waitingHint() const { return waitingHint_; }

    // Whether a handler that took nothing parks: data still waits, and no more than it found.
    static bool parksAfterNothingTaken(int waitingBefore, int waitingNow)
    {
        return waitingNow > 0 && waitingNow <= waitingBefore;
    }
    void park(int waiting)
    {
        phase_ = Phase::Parked;
        parkedWaiting_ = waiting;
    }
    // Returns true when this ended a park (the caller stops its timer).
    bool unpark() { return leave(Phase::Parked); }

    // A receive is about to be made: whatever held or parked the connection ends. Returns
    // true when this ended a park.
    bool receiving()
    {
        const bool wasParked = parked();
        phase_ = Phase::Free;
        return wasParked;
    }
    // Whether `count` bytes are known to wait; otherwise the receive queries the count.
    bool hintCovers(int count) const { return waitingHint_ >= count; }
    void waitingIs(int waiting) { waitingHint_ = waiting; }
    void took(int bytes)
    {
        waitingHint_ = waitingHint_ > bytes ? waitingHint_ - bytes : 0;
        consumed_ += bytes;
    }

private:
    bool leave(Phase from)
    {
        if (phase_ != from)
            return false;
        phase_ = Phase::Free;
        return true;
    }

    bool armed_ = false;
    Phase phase_ = Phase::Free;
    int parkedWaiting_ = 0;
    int waitingHint_ = 0;
    long long consumed_ = 0;
};

} // namespace bramblet
