#pragma once

#include <pthread.h>
#include <sys/epoll.h>
#include <time.h>

#include <atomic>
#include <vector>

#include "runtime/io_exec.h"
#include "runtime/iomux.h"
#include "runtime/timer_queue.h"

class IoMux;

// The read end of the wake-up pipe. Byte 0 only ends a wait (a deferred call
// or timer from another thread); byte 1 means signals are pending.
class IoCancelEpollWaitHelper : public UIoContext {
public:
    explicit IoCancelEpollWaitHelper(IoMux* iomux) : iomux(iomux) {}
    // Creates the pipe, keeps the read end and returns the write end.
    int Init();
    void IoContextNotify(bool in, bool out) override;

    IoMux* iomux;
};

class IoMux : public IIoMux {
public:
    static const unsigned DEFAULT_FD_LIMIT = 500;
    static const int MAX_EVENTS = 2000;

    IoMux(bool stored, unsigned maxFds);
    ~IoMux() override;

    void Run() override;
    void FDAdd(int fd, UIoContext* context, bool out) override;
    void FDClose(UIoContext* context) override;
    void FDRem(UIoContext* context) override;
    void FDUnblock(int fd) override;
    bool CanAcceptFD() override { return fdCount < fdLimit; }
    void RegisterSignalConsumer(ISignalConsumer* consumer) override;
    void RegisterShutdownHandler(IShutdownHandler* handler) override;
    void RegisterChildExitedHandler(IChildExitedHandler* handler) override;
    void UnRegisterChildExitedHandler(IChildExitedHandler* handler) override;
    void Lock() override;
    void UnLock() override;
    void SetExec(UIoExec* exec, void* param) override;
    void SetExecLocked(UIoExec* exec, void* param) override;
    void CancelSetExec(UIoExec* exec) override;
    void Shutdown() override;
    void ShutdownTimeout() override;
    void ShutdownComplete(IShutdownHandler* handler) override;

    // Ends Run at once, without asking the shutdown handlers.
    void Terminate();
    // Records a signal as the process handler does; async-signal-safe.
    void Signal(int sig);

    // ITimer's way in; the caller holds the lock.
    void TimerStart(ITimer* timer, unsigned long ms, void* caller);
    void TimerCancel(ITimer* timer) { timers.Cancel(timer); }
    // Ends the current epoll_wait, if the loop thread is in one.
    void WakeUp();

    // Test hooks. The clock source replaces CLOCK_MONOTONIC; RunOnce runs one
    // loop pass waiting at most maxWaitMs (-1: as long as the loop would).
    typedef void (*ClockSource)(struct timespec* now, void* context);
    void SetClockSource(ClockSource source, void* context);
    void RunOnce(int maxWaitMs);
    int Timeout() const;
    unsigned FdCount() const { return fdCount; }
    unsigned FdLimit() const { return fdLimit; }
    unsigned TimerCount() const { return timers.Count(); }
    unsigned DistinctExpiries() const { return timers.DistinctExpiries(); }
    unsigned TimeBase() const { return timers.TimeBase(); }
    unsigned QueuedExecs() const { return execs.Count(); }
    size_t ShutdownHandlerCount() const { return shutdownHandlers.size(); }
    size_t ChildExitedHandlerCount() const { return childHandlers.size(); }

private:
    friend class IoCancelEpollWaitHelper;
    void Iterate(int maxWaitMs);
    void AdvanceTime();
    void ProcessSignals();
    void ReapChildren();
    // Installs the process signal handler, or restores the defaults.
    static void InstallSignalHandlers(bool on);
    static void OnProcessSignal(int sig);

    // The loop that process signals are recorded for: the first one created.
    static IoMux* signalMux;

    bool stored;
    bool running = true;
    bool shuttingDown = false;
    bool waiting = false;
    // True from the clock reading of a pass until its deferred calls are done.
    bool processing = false;
    int epollFd = -1;
    struct epoll_event events[MAX_EVENTS];
    IoCancelEpollWaitHelper wakeHelper;
    int wakeFd = -1;
    unsigned fdCount = 1;
    unsigned fdLimit = DEFAULT_FD_LIMIT;
    std::vector<ISignalConsumer*> signalConsumers;
    std::vector<IShutdownHandler*> shutdownHandlers;
    std::vector<IChildExitedHandler*> childHandlers;
    IoExecQueue execs;
    TimerQueue timers;
    ClockSource clockSource;
    void* clockContext = nullptr;
    long long lastSec = 0;
    unsigned lastMs = 0;
    pthread_mutex_t mutex;
    std::atomic<bool> sigHangup{false};
    std::atomic<bool> sigChild{false};
    std::atomic<bool> sigTerminate{false};
    std::atomic<bool> sigUser1{false};
};
