#include "runtime/timer.h"

#include "runtime/io_mux.h"

ITimer::ITimer(IIoMux* iomux, UTimer* user) : iomux(iomux), user(user) {}

ITimer::~ITimer()
{
    Cancel();
}

void ITimer::Start(unsigned long ms)
{
    static_cast<IoMux*>(iomux)->TimerStart(this, ms, __builtin_return_address(0));
}

void ITimer::Cancel()
{
    if (running) static_cast<IoMux*>(iomux)->TimerCancel(this);
}

void ITimer::StartLocked(unsigned long ms)
{
    IoMux* mux = static_cast<IoMux*>(iomux);
    mux->Lock();
    mux->TimerStart(this, ms, __builtin_return_address(0));
    // The new timer may be due before the timeout the loop is waiting for.
    mux->WakeUp();
    mux->UnLock();
}

void ITimer::CancelLocked()
{
    IoMux* mux = static_cast<IoMux*>(iomux);
    mux->Lock();
    Cancel();
    mux->WakeUp();
    mux->UnLock();
}

int ITimer::btree_compare(void* key)
{
    return (int)(*static_cast<unsigned*>(key) - expiry);
}

int ITimer::btree_compare(btree* other)
{
    return (int)(static_cast<ITimer*>(other)->expiry - expiry);
}
