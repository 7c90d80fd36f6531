#pragma once

class ITask;

// The owner's side of an asynchronous operation.
class UTask {
public:
    virtual ~UTask() {}
    // Called once when the task has ended; the owner usually deletes it here.
    virtual void TaskComplete(ITask* task) = 0;
    // Called when the task failed; TaskComplete is not called afterwards.
    virtual void TaskFailed(ITask* task) = 0;
    virtual void TaskProgress(ITask*, unsigned) {}
};

// An asynchronous operation: the owner creates it, calls Start(user) and
// hears back through exactly one of TaskComplete/TaskFailed.
class ITask {
public:
    ITask() {}
    virtual ~ITask() {}
    virtual void Start(UTask* user) = 0;
    // Only asks: a long task looks at the flag between steps.
    virtual void Stop() { stopRequested = true; }
    // For an owner that goes away while the task runs: the task is asked to
    // stop and deletes itself when it ends. Only for tasks that touch nothing
    // of their owner's once a stop has been requested.
    void Abandon();
    bool IsFailed() const { return failed; }
    bool IsComplete() const { return complete; }
    bool IsStopRequested() const { return stopRequested; }

protected:
    void Complete()
    {
        complete = true;
        if (user) user->TaskComplete(this);
    }
    void Failed()
    {
        failed = true;
        if (user) user->TaskFailed(this);
        else complete = true;
    }
    void Progress(unsigned progress)
    {
        if (user) user->TaskProgress(this, progress);
    }

    UTask* user = nullptr;
    bool failed = false;
    bool stopRequested = false;
    bool complete = false;
};
