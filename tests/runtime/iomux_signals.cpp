#include <signal.h>
#include <unistd.h>

#include "tests/runtime/iomux_fixture.h"

namespace {

// Logs what the loop tells it: signal numbers, 100 for Shutdown and 200 for
// ShutdownTimeout (plus its id), and each child's pid.
class Probe : public ISignalConsumer, public IShutdownHandler, public IChildExitedHandler {
public:
    Probe(Log& log, long id = 0) : log(log), id(id) {}
    void OnSignal(int sig) override { Note(sig); }
    void Shutdown() override { Note(100 + id); }
    void ShutdownTimeout() override { Note(200 + id); }
    void ChildExited(int pid, int signal, int exitCode, bool crashed) override
    {
        children.push_back({pid, signal, exitCode, crashed});
        Note(pid);
    }
    void Note(long what)
    {
        log.push_back(what);
        if (then) then(what);
    }
    struct Child {
        int pid, signal, exitCode;
        bool crashed;
    };
    Log& log;
    long id;
    std::vector<Child> children;
    std::function<void(long)> then;
};

bool DefaultAction(int sig)
{
    struct sigaction sa;
    sigaction(sig, nullptr, &sa);
    return sa.sa_handler == SIG_DFL;
}

}  // namespace

TEST_F(LoopTest, create_hands_the_loop_to_the_log_and_applies_the_descriptor_limit)
{
    CaptureDebug capture;
    IoMux* created = static_cast<IoMux*>(IIoMux::Create(true, 600));
    EXPECT_EQ(static_cast<IIoMux*>(created), capture.handedLoop);
    EXPECT_EQ(590u, created->FdLimit());
    created->Signal(SIGHUP);
    created->RunOnce(0);
    EXPECT_EQ(std::vector<int>({1}), capture.signals);
    delete created;
    created = static_cast<IoMux*>(IIoMux::Create(true, 100));
    EXPECT_EQ(500u, created->FdLimit());
    delete created;
}

TEST_F(LoopTest, real_signals_reach_consumers_and_sigterm_without_handlers_ends_run)
{
    Log log;
    Probe c(log);
    c.then = [](long sig) {
        if (sig == 10) raise(SIGTERM);
    };
    mux->RegisterSignalConsumer(&c);
    Job start(log, [](long) {
        raise(SIGUSR1);
        raise(SIGHUP);
        raise(SIGPIPE);
    });
    mux->SetExec(&start, nullptr);
    mux->Run();
    EXPECT_EQ(Log({0, 1, 10}), log);
    EXPECT_TRUE(DefaultAction(SIGTERM) && DefaultAction(SIGHUP) && DefaultAction(SIGCHLD));
}

TEST_F(LoopTest, run_returns_only_after_the_last_handler_completes)
{
    Log log;
    Probe a(log, 1), b(log, 2), c(log, 3);
    Job finishB(log, [&](long) {
        mux->ShutdownComplete(&b);
        mux->ShutdownTimeout();
    });
    a.then = [&](long) { mux->ShutdownComplete(&a); };
    b.then = [&](long) { mux->SetExec(&finishB, (void*)-2); };
    c.then = [&](long what) {
        if (what == 203) mux->ShutdownComplete(&c);
    };
    for (Probe* h : {&a, &b, &c}) mux->RegisterShutdownHandler(h);
    Job start(log, [&](long) { mux->Shutdown(); });
    mux->SetExec(&start, nullptr);
    mux->Run();
    EXPECT_EQ(Log({0, 101, 102, 103, -2, 203}), log);
}

TEST_F(LoopTest, second_terminate_signal_repeats_shutdown_on_remaining_handlers)
{
    Log log;
    Probe a(log, 1), b(log, 2);
    Job again(log, [](long) { raise(SIGINT); });
    a.then = [&](long) { mux->ShutdownComplete(&a); };
    b.then = [&](long) {
        if (log.size() < 4) mux->SetExec(&again, (void*)-1);
        else mux->ShutdownComplete(&b);
    };
    mux->RegisterShutdownHandler(&a);
    mux->RegisterShutdownHandler(&b);
    Job start(log, [](long) { raise(SIGTERM); });
    mux->SetExec(&start, nullptr);
    mux->Run();
    EXPECT_EQ(Log({0, 101, 102, -1, 102}), log);
}

TEST_F(LoopTest, exited_children_are_reaped_with_exit_code_and_crash_flag)
{
    Log log;
    Probe reaper(log);
    reaper.then = [&](long) {
        if (reaper.children.size() < 2) return;
        mux->UnRegisterChildExitedHandler(&reaper);
        mux->Terminate();
    };
    mux->RegisterChildExitedHandler(&reaper);
    int exited = 0, crashed = 0;
    Job start(log, [&](long) {
        if ((exited = fork()) == 0) _exit(7);
        if ((crashed = fork()) == 0) {
            signal(SIGPIPE, SIG_DFL);
            raise(SIGPIPE);
            _exit(0);
        }
    });
    mux->SetExec(&start, nullptr);
    mux->Run();
    ASSERT_EQ(2u, reaper.children.size());
    for (const Probe::Child& child : reaper.children) {
        bool isExited = child.pid == exited;
        EXPECT_EQ(isExited ? exited : crashed, child.pid);
        EXPECT_EQ(isExited ? 0 : SIGPIPE, child.signal);
        EXPECT_EQ(isExited ? 7 : 0, child.exitCode);
        EXPECT_EQ(!isExited, child.crashed);
    }
}
