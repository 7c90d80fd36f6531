#pragma once

#include "runtime/timer.h"

// The loop's relative timers: a list in expiry order whose deltas chain from
// the time base, plus a tree holding the first-started timer of each
// distinct expiry so that an insertion point costs a logarithmic lookup.
// Invariant: the head's delta is its expiry minus the time base.
class TimerQueue {
public:
    static const unsigned MAX_MS = 0x7FFFFFFF;

    TimerQueue() {}
    ~TimerQueue();
    // Milliseconds the clock has advanced that the timers have not seen yet.
    unsigned Pending() const { return pending; }
    // The caller keeps Pending() at or below MAX_MS.
    void AddElapsed(unsigned ms) { pending += ms; }
    void Start(ITimer* timer, unsigned long ms, void* caller);
    void Cancel(ITimer* timer);
    // Fires every timer that the pending time has reached, in expiry order.
    void Run();
    // Milliseconds until the head expires, -1 without timers.
    int Timeout() const;

    unsigned TimeBase() const { return timeBase; }
    unsigned Count() const;
    unsigned DistinctExpiries() const;

private:
    ITimer* head = nullptr;
    ITimer* tail = nullptr;
    btree* root = nullptr;
    unsigned pending = 0;
    unsigned timeBase = 0;
};
