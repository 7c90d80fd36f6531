// Restarting one timer (cancel, then start with the same value) while 100000
// timers run, in random order so neither side gets cache locality for free.
// "distinct": every timer has its own expiry; "shared": 100 expiries of 1000
// timers each, so a restart leaves the head of a group half of the time in
// our queue. The peer is a keyed queue on std::multimap with the iterator
// kept in the timer, doing the same restarts in the same run. Both read the
// same frozen clock, so expiries do not drift while the benchmark runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "runtime/io_mux.h"
#include "runtime/timer.h"

namespace {

const int TIMERS = 100000;
const int GROUPS = 100;

void FrozenClock(struct timespec* now, void*)
{
    now->tv_sec = 1000;
    now->tv_nsec = 0;
}

unsigned long Value(int i, bool shared)
{
    return shared ? 1000 + (i % GROUPS) * 1000 : 1000 + i;
}

std::vector<int> RandomOrder()
{
    std::vector<int> order(TIMERS);
    for (int i = 0; i < TIMERS; i++) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    return order;
}

class Idle : public UTimer {
public:
    void TimerOnTimeout(ITimer*) override {}
};

void LoopTimers(benchmark::State& state)
{
    bool shared = state.range(0) != 0;
    IoMux mux(true, 0);
    mux.SetClockSource(FrozenClock, nullptr);
    Idle idle;
    std::vector<std::unique_ptr<ITimer>> timers;
    for (int i = 0; i < TIMERS; i++) {
        timers.emplace_back(new ITimer(&mux, &idle));
        timers.back()->Start(Value(i, shared));
    }
    std::vector<int> order = RandomOrder();
    size_t k = 0;
    for (auto _ : state) {
        int i = order[k];
        timers[i]->Cancel();
        timers[i]->Start(Value(i, shared));
        if (++k == order.size()) k = 0;
    }
    state.counters["expiries"] = mux.DistinctExpiries();
    timers.clear();
}

struct PeerTimer {
    std::multimap<unsigned, PeerTimer*>::iterator at;
    bool running = false;
};

class PeerQueue {
public:
    void Start(PeerTimer* t, unsigned long ms)
    {
        if (t->running) Cancel(t);
        struct timespec now;
        FrozenClock(&now, nullptr);
        unsigned nowMs = (unsigned)(now.tv_sec * 1000 + now.tv_nsec / 1000000);
        // Equal keys go behind the ones already there: start order is kept.
        t->at = queue.emplace(nowMs + (unsigned)ms, t);
        t->running = true;
    }
    void Cancel(PeerTimer* t)
    {
        if (!t->running) return;
        queue.erase(t->at);
        t->running = false;
    }

private:
    std::multimap<unsigned, PeerTimer*> queue;
};

void PeerMultimap(benchmark::State& state)
{
    bool shared = state.range(0) != 0;
    PeerQueue peer;
    std::vector<PeerTimer> timers(TIMERS);
    for (int i = 0; i < TIMERS; i++) peer.Start(&timers[i], Value(i, shared));
    std::vector<int> order = RandomOrder();
    size_t k = 0;
    for (auto _ : state) {
        int i = order[k];
        peer.Cancel(&timers[i]);
        peer.Start(&timers[i], Value(i, shared));
        if (++k == order.size()) k = 0;
    }
}

}  // namespace

BENCHMARK(LoopTimers)->ArgName("shared")->Arg(0)->Arg(1);
BENCHMARK(PeerMultimap)->ArgName("shared")->Arg(0)->Arg(1);

BENCHMARK_MAIN();
