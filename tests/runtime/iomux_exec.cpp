#include <thread>

#include "tests/runtime/iomux_fixture.h"

namespace {
void* P(long v)
{
    return (void*)v;
}
}  // namespace

TEST_F(LoopTest, every_queueing_yields_one_call_in_order_and_cancel_removes_them_all)
{
    Log log;
    Job a(log), b(log, [&](long) { log.push_back(-1); });
    mux->SetExec(&a, P(1));
    mux->SetExec(&b, P(2));
    mux->SetExec(&a, P(3));
    mux->SetExec(&a, P(4));
    EXPECT_EQ(0, mux->Timeout());
    mux->RunOnce(0);
    EXPECT_EQ(Log({1, 2, -1, 3, 4}), log);

    log.clear();
    mux->SetExec(&a, P(5));
    mux->SetExec(&b, P(6));
    mux->SetExec(&a, P(7));
    mux->SetExec(&a, P(8));
    mux->CancelSetExec(&a);
    EXPECT_FALSE(a.IsQueued());
    mux->RunOnce(0);
    EXPECT_EQ(Log({6, -1}), log);
}

TEST_F(LoopTest, exec_queued_again_from_its_own_call_runs_in_the_next_pass)
{
    Log log;
    Job a(log, [&](long p) {
        if (p == 1) mux->SetExec(&a, P(2));
    });
    mux->SetExec(&a, P(1));
    mux->SetExec(&a, P(3));
    mux->RunOnce(0);
    EXPECT_EQ(Log({1, 3}), log);
    EXPECT_EQ(0, mux->Timeout());
    mux->RunOnce(0);
    EXPECT_EQ(Log({1, 3, 2}), log);
}

TEST_F(LoopTest, deleting_a_queued_exec_drops_all_its_entries)
{
    Log log;
    Job* x = new Job(log);
    Job* y = new Job(log);
    Job b(log, [&](long) { delete x; });  // x still has an entry later in this pass
    mux->SetExec(x, P(1));
    mux->SetExec(y, P(5));
    mux->SetExec(y, P(6));
    mux->SetExec(&b, P(3));
    mux->SetExec(x, P(4));
    delete y;
    EXPECT_EQ(3u, mux->QueuedExecs());
    mux->RunOnce(0);
    EXPECT_EQ(Log({1, 3}), log);
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
