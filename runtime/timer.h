#pragma once

#include "runtime/btree.h"
#include "runtime/iomux.h"

class ITimer;
class ITimerAbsolute;

class UTimer {
public:
    virtual ~UTimer() {}
    // Called on the loop thread when the timer expires; the timer is idle by
    // then. The callee may start or cancel any timer, this one included, and
    // may delete the timer.
    virtual void TimerOnTimeout(ITimer* timer) = 0;
};

// A relative millisecond timer on the loop's monotonic 32-bit time base.
// A node of the loop's tree of distinct expiries.
class ITimer : public btree {
public:
    ITimer(IIoMux* iomux, UTimer* user);
    ITimer(const ITimer&) = delete;
    ITimer& operator=(const ITimer&) = delete;
    ~ITimer() override;
    // Loop thread only. Starting a running timer restarts it; values above
    // 0x7FFFFFFF ms are lowered (and logged).
    void Start(unsigned long ms);
    void Cancel();
    // From other threads: take the loop's lock and wake it.
    void StartLocked(unsigned long ms);
    void CancelLocked();
    bool IsRunning() const { return running; }

    // Keys compare by signed 32-bit difference, so order survives the wrap.
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    IIoMux* iomux;
    UTimer* user;
    bool running = false;
    unsigned expiry = 0;
    unsigned delta = 0;
    ITimer* next = nullptr;
    ITimer* prev = nullptr;
    // Set on the timers due in the pass that is firing them, so that a timer
    // started for 0 ms from a callback waits for the next pass.
    bool expired = false;
};

class UTimerAbsolute {
public:
    virtual ~UTimerAbsolute() {}
    // On the loop thread; the timer is idle by then and may be restarted or deleted.
    virtual void TimerOnTimeout(ITimerAbsolute* timer) = 0;
};

// A timer at a wall-clock instant (millisecond resolution), on a
// CLOCK_REALTIME timerfd that exists only while the timer runs.
class ITimerAbsolute : public UIoContext {
public:
    ITimerAbsolute(IIoMux* iomux, UTimerAbsolute* user);
    ~ITimerAbsolute() override;
    // An instant in the past fires on the next loop pass. When the kernel
    // refuses a timerfd the failure is logged and IsRunning() stays false.
    void Start(long long msSinceEpoch);
    void Cancel();
    bool IsRunning() const { return running; }
    void IoContextNotify(bool in, bool out) override;

    IIoMux* iomux;
    UTimerAbsolute* user;
    bool running = false;
};
