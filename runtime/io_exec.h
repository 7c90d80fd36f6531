#pragma once

#include "runtime/iomux.h"

// The loop's deferred-call list: doubly linked through the UIoExec objects
// themselves, so an object queued once costs no allocation.
class IoExecQueue {
public:
    IoExecQueue();
    ~IoExecQueue();
    void Push(UIoExec* exec, void* param);
    // Removes the object's own entry and all its anchors, wherever they are
    // queued (the loop's list or a batch being run).
    static void Cancel(UIoExec* exec);
    // Runs the entries queued before the call; entries queued meanwhile wait
    // for the next call.
    void Run();
    bool Empty() const { return head.execNext == &head; }
    unsigned Count() const;

private:
    class Sentinel : public UIoExec {
    public:
        Sentinel() { execNext = execPrev = this; }
        void IoExec(void*) override {}
    };
    static void Link(Sentinel* list, UIoExec* exec, void* param);
    static void Unlink(UIoExec* exec);

    Sentinel head;
};
