#include <thread>

#include "tests/runtime/iomux_fixture.h"

namespace {
void* P(long v)
{
    return (void*)v;
}
}  // namespace

TEST_F(LoopTest, queued_calls_run_once_each_in_queue_order_unless_cancelled_or_deleted)
{
    Log log;
    Job* x = new Job(log);
    Job a(log, [&](long p) {
        if (p == 1) mux->SetExec(&a, P(2));  // queued from its own call: the next pass
        if (p == 3) delete x;                // x still has an entry later in this pass
    });
    Job b(log, [&](long) { log.push_back(-1); });
    mux->SetExec(&a, P(1));
    mux->SetExec(&b, P(5));
    mux->SetExec(&a, P(3));
    mux->SetExec(x, P(6));
    EXPECT_EQ(0, mux->Timeout());
    mux->RunOnce(0);
    EXPECT_EQ(Log({1, 5, -1, 3}), log);
    EXPECT_EQ(0, mux->Timeout());
    mux->RunOnce(0);
    EXPECT_EQ(Log({1, 5, -1, 3, 2}), log);

    log.clear();
    Job* y = new Job(log);
    mux->SetExec(&a, P(7));
    mux->SetExec(&b, P(8));
    mux->SetExec(y, P(9));
    mux->SetExec(&a, P(10));
    mux->CancelSetExec(&a);
    EXPECT_FALSE(a.IsQueued());
    delete y;
    EXPECT_EQ(1u, mux->QueuedExecs());
    mux->RunOnce(0);
    EXPECT_EQ(Log({8, -1}), log);
}

TEST_F(LoopTest, locked_calls_from_another_thread_wake_a_blocked_loop)
{
    Log log;
    Job a(log);
    // The loop has nothing to wait for, so only the other thread can end the wait.
    std::thread poster([&] { mux->SetExecLocked(&a, P(7)); });
    mux->RunOnce(-1);
    poster.join();
    EXPECT_EQ(Log({7}), log);

    Tick t(mux, log, 9);
    std::thread starter([&] { t.timer.StartLocked(5); });
    mux->RunOnce(-1);
    starter.join();
    EXPECT_EQ(5, mux->Timeout());
    Advance(5);
    EXPECT_EQ(Log({7, 9}), log);
}
