#include "runtime/timer_queue.h"

#include <stdint.h>

#include "runtime/debug.h"

TimerQueue::~TimerQueue()
{
    // Timers that outlive the loop must not reach back into it.
    while (head) Cancel(head);
}

void TimerQueue::Start(ITimer* t, unsigned long ms, void* caller)
{
    if (t->running) Cancel(t);
    unsigned room = MAX_MS - pending;
    unsigned target = pending + (unsigned)ms;
    if (ms > room) {
        if (debug)
            debug->printf("IoMux::TimerStart timer:%p started with a very high value:%u, lowering value to:%u (caller:%x)",
                          (void*)t, (unsigned)ms, room, (unsigned)(uintptr_t)caller);
        target = MAX_MS;
    }
    t->expiry = timeBase + target;

    ITimer* later = static_cast<ITimer*>(btree::btree_find_next_right(root, &t->expiry));
    ITimer* before = later ? later->prev : tail;
    t->prev = before;
    t->next = later;
    if (before) before->next = t;
    else head = t;
    if (later) later->prev = t;
    else tail = t;

    t->delta = before ? t->expiry - before->expiry : target;
    if (later) later->delta -= t->delta;
    if (!before || before->expiry != t->expiry) root = btree::btree_put(root, t);
    t->running = true;
    t->expired = false;
}

void TimerQueue::Cancel(ITimer* t)
{
    if (!t->running) return;
    ITimer* before = t->prev;
    ITimer* after = t->next;
    if (!before || before->expiry != t->expiry) {
        root = btree::btree_get(root, t);
        if (after && after->expiry == t->expiry) root = btree::btree_put(root, after);
    }
    if (before) before->next = after;
    else head = after;
    if (after) {
        after->prev = before;
        after->delta += t->delta;
    } else {
        tail = before;
    }
    t->next = t->prev = nullptr;
    t->running = false;
    t->expired = false;
}

void TimerQueue::Run()
{
    while (pending) {
        if (!head) {
            timeBase += pending;
            pending = 0;
            return;
        }
        unsigned step = head->delta < pending ? head->delta : pending;
        head->delta -= step;
        pending -= step;
        timeBase += step;
        for (ITimer* t = head; t && t->delta == 0; t = t->next) t->expired = true;
        while (head && head->expired) {
            ITimer* t = head;
            Cancel(t);
            t->user->TimerOnTimeout(t);
        }
    }
}

int TimerQueue::Timeout() const
{
    if (!head) return -1;
    return head->delta > pending ? (int)(head->delta - pending) : 0;
}

unsigned TimerQueue::Count() const
{
    unsigned n = 0;
    for (ITimer* t = head; t; t = t->next) n++;
    return n;
}

unsigned TimerQueue::DistinctExpiries() const
{
    unsigned n = 0;
    for (btree* b = btree::btree_find_right(root, nullptr); b;
         b = btree::btree_find_next_right(root, &static_cast<ITimer*>(b)->expiry))
        n++;
    return n;
}
