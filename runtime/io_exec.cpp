#include "runtime/io_exec.h"

UIoExec::~UIoExec()
{
    IoExecQueue::Cancel(this);
}

UIoExecAnchor::UIoExecAnchor(UIoExec* target, void* param) : target(target)
{
    execParam = param;
    chainNext = target->execAnchors;
    if (chainNext) chainNext->chainPrev = this;
    target->execAnchors = this;
}

UIoExecAnchor::~UIoExecAnchor()
{
    if (chainPrev) chainPrev->chainNext = chainNext;
    else target->execAnchors = chainNext;
    if (chainNext) chainNext->chainPrev = chainPrev;
}

void UIoExecAnchor::IoExec(void* param)
{
    UIoExec* t = target;
    delete this;
    t->IoExec(param);
}

IoExecQueue::IoExecQueue() {}

IoExecQueue::~IoExecQueue()
{
    while (!Empty()) {
        UIoExec* e = head.execNext;
        if (auto* anchor = dynamic_cast<UIoExecAnchor*>(e)) delete anchor;
        else Unlink(e);
    }
}

void IoExecQueue::Link(Sentinel* list, UIoExec* exec, void* param)
{
    exec->execParam = param;
    exec->execPrev = list->execPrev;
    exec->execNext = list;
    list->execPrev->execNext = exec;
    list->execPrev = exec;
    exec->execQueued = true;
}

void IoExecQueue::Unlink(UIoExec* exec)
{
    exec->execPrev->execNext = exec->execNext;
    exec->execNext->execPrev = exec->execPrev;
    exec->execNext = exec->execPrev = nullptr;
    exec->execQueued = false;
}

void IoExecQueue::Push(UIoExec* exec, void* param)
{
    if (!exec->execQueued) Link(&head, exec, param);
    else Link(&head, new UIoExecAnchor(exec, param), param);
}

void IoExecQueue::Cancel(UIoExec* exec)
{
    while (exec->execAnchors) {
        UIoExecAnchor* anchor = exec->execAnchors;
        if (anchor->execQueued) Unlink(anchor);
        delete anchor;
    }
    if (exec->execQueued) Unlink(exec);
}

void IoExecQueue::Run()
{
    if (Empty()) return;
    Sentinel batch;
    batch.execNext = head.execNext;
    batch.execPrev = head.execPrev;
    batch.execNext->execPrev = &batch;
    batch.execPrev->execNext = &batch;
    head.execNext = head.execPrev = &head;
    while (batch.execNext != &batch) {
        UIoExec* e = batch.execNext;
        void* param = e->execParam;
        Unlink(e);
        e->IoExec(param);
    }
}

unsigned IoExecQueue::Count() const
{
    unsigned n = 0;
    for (const UIoExec* e = head.execNext; e != &head; e = e->execNext) n++;
    return n;
}
