#include "runtime/io_mux.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "runtime/assert.h"
#include "runtime/debug.h"

namespace {
void MonotonicClock(struct timespec* now, void*)
{
    clock_gettime(CLOCK_MONOTONIC, now);
}
}  // namespace

IIoMux* IIoMux::Create(bool stored, unsigned int maxFds)
{
    IoMux* mux = new IoMux(stored, maxFds);
    if (debug) debug->SetIIoMux(static_cast<IIoMux*>(mux));
    return mux;
}

int IoCancelEpollWaitHelper::Init()
{
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) < 0) {
        char msg[128];
        snprintf(msg, sizeof(msg), "IoCancelEpollWaitHelper::Init pipe() failed (%u : %s)", errno, strerror(errno));
        FATAL(msg);
    }
    iomux->FDAdd(fds[0], this, false);
    return fds[1];
}

void IoCancelEpollWaitHelper::IoContextNotify(bool, bool)
{
    bool signalled = false;
    char buf[50];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof(buf));
        if (n > 0) {
            if (memchr(buf, 1, n)) signalled = true;
            continue;
        }
        if (n == 0 || errno == EAGAIN) break;
        char msg[128];
        snprintf(msg, sizeof(msg), "IoCancelEpollWaitHelper::IoContextNotify read() error (%u : %s)", errno,
                 strerror(errno));
        FATAL(msg);
    }
    if (signalled) iomux->ProcessSignals();
}

IoMux::IoMux(bool stored, unsigned maxFds) : stored(stored), wakeHelper(this), clockSource(MonotonicClock)
{
    if (maxFds) fdLimit = maxFds > DEFAULT_FD_LIMIT + 10 ? maxFds - 10 : DEFAULT_FD_LIMIT;
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    ASSERT(epollFd >= 0, "IoMux::IoMux epoll_create1");
    wakeFd = wakeHelper.Init();
    pthread_mutex_init(&mutex, nullptr);
    Lock();
    SetClockSource(MonotonicClock, nullptr);
    if (!signalMux) signalMux = this;
}

IoMux::~IoMux()
{
    if (signalMux == this) signalMux = nullptr;
    FDClose(&wakeHelper);
    close(wakeFd);
    close(epollFd);
    // Run hands the lock back on return; a loop that never ran still holds it.
    pthread_mutex_trylock(&mutex);
    pthread_mutex_unlock(&mutex);
    pthread_mutex_destroy(&mutex);
}

void IoMux::Run()
{
    InstallSignalHandlers(true);
    while (running) Iterate(-1);
    InstallSignalHandlers(false);
    UnLock();
}

void IoMux::RunOnce(int maxWaitMs)
{
    Iterate(maxWaitMs);
}

int IoMux::Timeout() const
{
    return execs.Empty() ? timers.Timeout() : 0;
}

void IoMux::Iterate(int maxWaitMs)
{
    int timeout = Timeout();
    if (maxWaitMs >= 0 && (timeout < 0 || timeout > maxWaitMs)) timeout = maxWaitMs;
    waiting = true;
    UnLock();
    int n = epoll_wait(epollFd, events, MAX_EVENTS, timeout);
    int err = errno;
    Lock();
    waiting = false;
    if (n < 0) {
        // A signal: its byte is in the pipe, so the next wait returns at once.
        ASSERT(err == EINTR, "IoMux::Run epoll_wait");
        return;
    }
    processing = true;
    AdvanceTime();
    for (int i = 0; i < n; i++) {
        UIoContext* context = static_cast<UIoContext*>(events[i].data.ptr);
        // An earlier callback of this pass may have removed it.
        if (!context->registered) continue;
        uint32_t e = events[i].events;
        if (e & EPOLLHUP) context->hangup = true;
        if ((e & EPOLLERR) || !(e & (EPOLLIN | EPOLLOUT | EPOLLHUP))) context->error = true;
        context->IoContextNotify((e & EPOLLIN) != 0, (e & EPOLLOUT) != 0);
    }
    timers.Run();
    execs.Run();
    processing = false;
}

void IoMux::SetClockSource(ClockSource source, void* context)
{
    clockSource = source;
    clockContext = context;
    struct timespec now;
    clockSource(&now, clockContext);
    lastSec = now.tv_sec;
    lastMs = (unsigned)(now.tv_nsec / 1000000);
}

void IoMux::AdvanceTime()
{
    struct timespec now;
    clockSource(&now, clockContext);
    long long sec = now.tv_sec - lastSec;
    unsigned ms = (unsigned)(now.tv_nsec / 1000000);
    // Whole seconds are cut so that the pending time never passes 0x7FFFFFFF.
    long long limit = (TimerQueue::MAX_MS - timers.Pending()) / 1000;
    long long elapsed = sec >= limit ? limit * 1000 : sec * 1000 + (long long)ms - lastMs;
    lastSec = now.tv_sec;
    lastMs = ms;
    if (elapsed > 0) timers.AddElapsed((unsigned)elapsed);
}

void IoMux::TimerStart(ITimer* timer, unsigned long ms, void* caller)
{
    if (!processing) AdvanceTime();
    timers.Start(timer, ms, caller);
}

void IoMux::WakeUp()
{
    if (!waiting) return;
    waiting = false;
    char zero = 0;
    // A full pipe wakes the loop as well.
    ssize_t r = write(wakeFd, &zero, 1);
    (void)r;
}

void IoMux::FDAdd(int fd, UIoContext* context, bool out)
{
    context->fd = fd;
    if (context->registered) return;
    struct epoll_event ev = {};
    ev.events = EPOLLIN | EPOLLET;
    if (out) ev.events |= EPOLLOUT;
    ev.data.ptr = context;
    ASSERT(epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) == 0, "IoMux::FDAdd epoll_ctl");
    context->registered = true;
    fdCount++;
}

void IoMux::FDRem(UIoContext* context)
{
    if (!context->registered) return;
    // An owner that closed the descriptor first has already left the epoll set.
    if (epoll_ctl(epollFd, EPOLL_CTL_DEL, context->fd, nullptr) < 0)
        ASSERT(errno == EBADF || errno == ENOENT, "IoMux::FDRem epoll_ctl");
    context->registered = false;
    fdCount--;
}

void IoMux::FDClose(UIoContext* context)
{
    if (!context->registered) return;
    FDRem(context);
    if (close(context->fd) < 0) ASSERT(errno == EBADF, "IoMux::FDClose close");
}

void IoMux::FDUnblock(int fd)
{
    int flags = fcntl(fd, F_GETFL);
    ASSERT(flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0, "IoMux::FDUnblock fcntl");
}

void IoMux::Lock()
{
    pthread_mutex_lock(&mutex);
}

void IoMux::UnLock()
{
    pthread_mutex_unlock(&mutex);
}

void IoMux::SetExec(UIoExec* exec, void* param)
{
    execs.Push(exec, param);
    WakeUp();
}

void IoMux::SetExecLocked(UIoExec* exec, void* param)
{
    Lock();
    SetExec(exec, param);
    UnLock();
}

void IoMux::CancelSetExec(UIoExec* exec)
{
    IoExecQueue::Cancel(exec);
}
