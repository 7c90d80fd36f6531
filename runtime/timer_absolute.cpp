#include <errno.h>
#include <stdint.h>
#include <string.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "runtime/debug.h"
#include "runtime/timer.h"

namespace {
void LogFailure(ITimerAbsolute* timer, const char* call)
{
    if (debug)
        debug->printf("ITimerAbsolute(%08x)::Start %s() failed (%u : %s)", (unsigned)(uintptr_t)timer, call, errno,
                      strerror(errno));
}
}  // namespace

ITimerAbsolute::ITimerAbsolute(IIoMux* iomux, UTimerAbsolute* user) : iomux(iomux), user(user) {}

ITimerAbsolute::~ITimerAbsolute()
{
    Cancel();
}

void ITimerAbsolute::Start(long long msSinceEpoch)
{
    Cancel();
    // The descriptor lives only while the timer runs, so idle timers cost none.
    int tfd = timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC);
    if (tfd < 0) {
        LogFailure(this, "timerfd_create");
        return;
    }
    struct itimerspec when = {};
    if (msSinceEpoch > 0) {
        when.it_value.tv_sec = msSinceEpoch / 1000;
        when.it_value.tv_nsec = (msSinceEpoch % 1000) * 1000000;
    }
    // An all-zero value would disarm the timer instead of firing it.
    if (!when.it_value.tv_sec && !when.it_value.tv_nsec) when.it_value.tv_nsec = 1;
    if (timerfd_settime(tfd, TFD_TIMER_ABSTIME, &when, nullptr) < 0) {
        LogFailure(this, "timerfd_settime");
        close(tfd);
        return;
    }
    iomux->FDAdd(tfd, this, false);
    running = true;
}

void ITimerAbsolute::Cancel()
{
    if (!running) return;
    running = false;
    iomux->FDClose(this);
    fd = -1;
}

void ITimerAbsolute::IoContextNotify(bool, bool)
{
    uint64_t expirations = 0;
    if (read(fd, &expirations, sizeof(expirations)) != (ssize_t)sizeof(expirations)) return;
    Cancel();
    user->TimerOnTimeout(this);
}
