#pragma once

#include "runtime/btree.h"
#include "runtime/iomux.h"

class ITimer;
class ITimerAbsolute;

class UTimer {
public:
    virtual ~UTimer() {}
    // Called on the loop thread when the timer expires. The callee may start
    // or cancel any timer, this one included, and may delete the timer.
    virtual void TimerOnTimeout(ITimer* timer) = 0;
};

// A relative millisecond timer on the loop's monotonic 32-bit time base.
// A node of the loop's tree of distinct expiries.
class ITimer : public btree {
public:
    ITimer(IIoMux* iomux, UTimer* user);
    ~ITimer() override;
    void Start(unsigned long ms);
    void Cancel();
    void StartLocked(unsigned long ms);  // from other threads
    void CancelLocked();
    bool IsRunning() const { return running; }

    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    IIoMux* iomux;
    UTimer* user;
    bool running = false;
    unsigned expiry = 0;
    unsigned delta = 0;
    ITimer* next = nullptr;
    ITimer* prev = nullptr;
    // Further timers of the same expiry, in start order (only the first of a
    // group sits in the tree).
    ITimer* sameNext = nullptr;
};

class UTimerAbsolute {
public:
    virtual ~UTimerAbsolute() {}
    virtual void TimerOnTimeout(ITimerAbsolute* timer) = 0;
};

// A timer at a wall-clock instant, on a CLOCK_REALTIME timerfd.
class ITimerAbsolute : public UIoContext {
public:
    ITimerAbsolute(IIoMux* iomux, UTimerAbsolute* user);
    ~ITimerAbsolute() override;
    void Start(long long msSinceEpoch);
    void Cancel();
    bool IsRunning() const { return running; }
    void IoContextNotify(bool in, bool out) override;

    IIoMux* iomux;
    UTimerAbsolute* user;
    bool running = false;
};
