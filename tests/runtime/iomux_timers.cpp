#include <sys/time.h>

#include "tests/runtime/iomux_fixture.h"

namespace {

class Alarm : public UTimerAbsolute {
public:
    explicit Alarm(IIoMux* mux) : timer(mux, this) {}
    void TimerOnTimeout(ITimerAbsolute* t) override
    {
        EXPECT_EQ(&timer, t);
        fired++;
    }
    ITimerAbsolute timer;
    int fired = 0;
};

}  // namespace

TEST_F(LoopTest, timers_fire_in_expiry_then_start_order_with_one_tree_node_per_expiry)
{
    Log log;
    Tick a(mux, log, 1), b(mux, log, 2), c(mux, log, 3), d(mux, log, 4), e(mux, log, 5), f(mux, log, 6);
    a.timer.Start(10);
    b.timer.Start(10);
    c.timer.Start(5);
    d.timer.Start(10);
    EXPECT_EQ(2u, mux->DistinctExpiries());
    a.timer.Cancel();  // the group's tree node passes to b
    EXPECT_EQ(2u, mux->DistinctExpiries());
    e.timer.Start(10);
    EXPECT_EQ(5, mux->Timeout());
    Advance(4);
    EXPECT_TRUE(log.empty());
    Advance(1);
    EXPECT_EQ(Log({3}), log);
    Advance(5);
    EXPECT_EQ(Log({3, 2, 4, 5}), log);
    EXPECT_EQ(-1, mux->Timeout());

    // Time that passed in one wait is handed out in expiry order, and a timer
    // started from a callback counts from now, not from the expiry.
    log.clear();
    a.then = [&] { f.timer.Start(5); };
    b.timer.Start(30);
    a.timer.Start(10);
    Advance(50);
    EXPECT_EQ(Log({1, 2}), log);
    EXPECT_EQ(5, mux->Timeout());
    Advance(5);
    EXPECT_EQ(Log({1, 2, 6}), log);
}

TEST_F(LoopTest, timer_order_survives_the_wrap_of_the_time_base)
{
    // A jump beyond the longest timer is cut so that pending time stays below 2^31.
    Advance(2147483000LL + 3600000);
    EXPECT_EQ(2147483000u, mux->TimeBase());
    Advance(2147483000LL);
    Advance(1290);
    EXPECT_EQ(0xFFFFFFFAu, mux->TimeBase());

    Log log;
    Tick a(mux, log, 1), b(mux, log, 2), c(mux, log, 3), d(mux, log, 4);
    a.timer.Start(10);
    b.timer.Start(3);
    c.timer.Start(20);
    d.timer.Start(10);
    EXPECT_EQ(3u, mux->DistinctExpiries());
    Advance(3);
    EXPECT_EQ(Log({2}), log);
    Advance(7);
    EXPECT_EQ(4u, mux->TimeBase());
    EXPECT_EQ(Log({2, 1, 4}), log);
    Advance(10);
    EXPECT_EQ(Log({2, 1, 4, 3}), log);
}

TEST_F(LoopTest, zero_ms_timer_fires_only_after_the_clock_moves)
{
    Log log;
    Tick a(mux, log, 1);
    a.then = [&] { a.timer.Start(0); };
    a.timer.Start(0);
    EXPECT_EQ(0, mux->Timeout());
    mux->RunOnce(0);
    EXPECT_TRUE(log.empty());
    Advance(1);
    size_t fired = log.size();
    EXPECT_GE(fired, 1u);
    // The restart from the callback is not due again until the clock moves.
    mux->RunOnce(0);
    EXPECT_EQ(fired, log.size());
    EXPECT_TRUE(a.timer.IsRunning());
    Advance(1);
    EXPECT_GT(log.size(), fired);
    a.timer.Cancel();
}

TEST_F(LoopTest, very_high_value_is_lowered_to_the_longest_timer_and_logged)
{
    CaptureDebug capture;
    Log log;
    Tick a(mux, log, 1);
    nowMs += 5;
    a.timer.Start(0xFFFFFFFFUL);

    char expected[200];
    snprintf(expected, sizeof(expected),
             "IoMux::TimerStart timer:%p started with a very high value:4294967295, lowering value to:2147483642 (caller:",
             (void*)&a.timer);
    ASSERT_EQ(1u, capture.lines.size());
    EXPECT_EQ(0u, capture.lines[0].find(expected)) << capture.lines[0];
    EXPECT_EQ(2147483642, mux->Timeout());

    Advance(2147483000LL);
    Advance(641);
    EXPECT_TRUE(log.empty());
    Advance(1);
    EXPECT_EQ(Log({1}), log);
}

TEST_F(LoopTest, callbacks_may_restart_cancel_and_delete_timers)
{
    Log log;
    Tick a(mux, log, 1), b(mux, log, 2), d(mux, log, 4);
    Tick* c = new Tick(mux, log, 3);
    a.then = [&] {
        if (log.size() > 1) return;
        a.timer.Start(10);
        delete c;  // due in this same pass, behind b
    };
    b.then = [&] { b.timer.Cancel(); };
    a.timer.Start(10);
    b.timer.Start(10);
    c->timer.Start(10);
    d.timer.Start(5);
    d.timer.Start(15);  // restarting moves it behind the others
    Advance(10);
    EXPECT_EQ(Log({1, 2}), log);
    EXPECT_EQ(2u, mux->TimerCount());
    Advance(5);
    Advance(5);
    EXPECT_EQ(Log({1, 2, 4, 1}), log);
}

TEST_F(LoopTest, absolute_timer_holds_a_descriptor_only_while_running)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    long long now = tv.tv_sec * 1000LL + tv.tv_usec / 1000;
    Alarm alarm(mux);
    alarm.timer.Start(now + 86400000LL);
    EXPECT_EQ(baseFds + 1, mux->FdCount());
    alarm.timer.Cancel();
    EXPECT_EQ(baseFds, mux->FdCount());

    alarm.timer.Start(now - 1000);  // already past: due at once
    mux->RunOnce(10000);
    EXPECT_EQ(1, alarm.fired);
    EXPECT_FALSE(alarm.timer.IsRunning());
    alarm.timer.Start(0);
    mux->RunOnce(10000);
    EXPECT_EQ(2, alarm.fired);
}
