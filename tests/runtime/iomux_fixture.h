#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/io_mux.h"
#include "runtime/timer.h"
#include "tests/support/capture_debug.h"

// A loop whose monotonic clock only moves when the test moves it. After each
// test the loop must hold nothing the test did not leave on purpose.
class LoopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mux = new IoMux(true, 0);
        mux->SetClockSource(ReadClock, this);
        baseFds = mux->FdCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(baseFds, mux->FdCount());
        EXPECT_EQ(0u, mux->TimerCount());
        EXPECT_EQ(0u, mux->QueuedExecs());
        EXPECT_EQ(0u, mux->ShutdownHandlerCount());
        EXPECT_EQ(0u, mux->ChildExitedHandlerCount());
        delete mux;
    }
    // Moves the clock on and runs one pass without blocking.
    void Advance(long long ms)
    {
        nowMs += ms;
        mux->RunOnce(0);
    }
    static void ReadClock(struct timespec* now, void* context)
    {
        long long ms = static_cast<LoopTest*>(context)->nowMs;
        now->tv_sec = ms / 1000;
        now->tv_nsec = (ms % 1000) * 1000000;
    }

    IoMux* mux = nullptr;
    unsigned baseFds = 0;
    long long nowMs = 5000;
};

using Log = std::vector<long>;

// A deferred call that logs its parameter and then runs `then`.
class Job : public UIoExec {
public:
    Job(Log& log, std::function<void(long)> then = nullptr) : log(log), then(std::move(then)) {}
    void IoExec(void* param) override
    {
        log.push_back((long)param);
        if (then) then((long)param);
    }
    Log& log;
    std::function<void(long)> then;
};

// A timer that logs its id when it fires and then runs `then`.
class Tick : public UTimer {
public:
    Tick(IIoMux* mux, Log& log, long id) : timer(mux, this), log(log), id(id) {}
    void TimerOnTimeout(ITimer* t) override
    {
        EXPECT_EQ(&timer, t);
        EXPECT_FALSE(t->IsRunning());
        log.push_back(id);
        if (then) then();
    }
    ITimer timer;
    Log& log;
    long id;
    std::function<void()> then;
};
