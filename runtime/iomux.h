#pragma once

// The event loop interface. One IIoMux exists per process; every descriptor,
// timer and deferred call of the system is driven by it on one thread.

class IIoMux;

// Base of everything that owns a descriptor registered with the loop.
class UIoContext {
public:
    UIoContext() {}
    virtual ~UIoContext() {}
    int GetFd() const { return fd; }
    void SetFd(int f) { fd = f; }
    // Called on the loop thread for every epoll event of the descriptor.
    // Descriptors are edge-triggered: read or write until EAGAIN. The callee
    // may FDClose/FDRem itself or others; it must not delete itself here (defer it).
    virtual void IoContextNotify(bool in, bool out) = 0;

    int fd = -1;
    bool error = false;
    bool hangup = false;
    bool registered = false;
};

class UIoExecAnchor;

// Base of everything that receives deferred calls. Each SetExec yields exactly
// one later IoExec(param), in queue order; the destructor unqueues.
class UIoExec {
public:
    UIoExec() {}
    UIoExec(const UIoExec&) = delete;
    UIoExec& operator=(const UIoExec&) = delete;
    virtual ~UIoExec();
    // Called on the loop thread in a later loop pass than the SetExec. The
    // callee may queue itself again (it then runs in the next pass), cancel
    // or delete itself or other UIoExecs.
    virtual void IoExec(void* param) = 0;
    bool IsQueued() const { return execQueued; }

    // Loop-private: links into the deferred list, the parameter of the
    // object's own entry, and the anchors carrying its further entries.
    UIoExec* execNext = nullptr;
    UIoExec* execPrev = nullptr;
    void* execParam = nullptr;
    UIoExecAnchor* execAnchors = nullptr;
    bool execQueued = false;
};

// A further queue entry of an object that is queued already. Owned by the
// loop: deleted right before the target's IoExec, or with the target.
class UIoExecAnchor : public UIoExec {
public:
    UIoExecAnchor(UIoExec* target, void* param);
    ~UIoExecAnchor() override;
    // Deletes the anchor, then calls the target's IoExec(param).
    void IoExec(void* param) override;

    UIoExec* target;
    UIoExecAnchor* chainNext = nullptr;
    UIoExecAnchor* chainPrev = nullptr;
};

class ISignalConsumer {
public:
    virtual ~ISignalConsumer() {}
    // 1 for SIGHUP, 10 for SIGUSR1; on the loop thread.
    virtual void OnSignal(int sig) = 0;
};

class IShutdownHandler {
public:
    virtual ~IShutdownHandler() {}
    // Wind down asynchronously, then call IIoMux::ShutdownComplete(this). May
    // be called again (a second SIGTERM) while still winding down.
    virtual void Shutdown() = 0;
    virtual void ShutdownTimeout() = 0;
};

class IChildExitedHandler {
public:
    virtual ~IChildExitedHandler() {}
    // For every reaped child; crashed is true for death by SIGILL, SIGABRT,
    // SIGSEGV or SIGPIPE. The handler may unregister itself here.
    virtual void ChildExited(int pid, int signal, int exitCode, bool crashed) = 0;
};

class IIoMux {
public:
    // The boolean is kept for callers that pass it; the loop does not use it.
    static IIoMux* Create(bool stored = true, unsigned int maxFds = 0);
    virtual ~IIoMux() {}
    virtual void Run() = 0;
    virtual void FDAdd(int fd, UIoContext* context, bool out) = 0;
    virtual void FDClose(UIoContext* context) = 0;
    virtual void FDRem(UIoContext* context) = 0;
    virtual void FDUnblock(int fd) = 0;
    virtual bool CanAcceptFD() = 0;
    virtual void RegisterSignalConsumer(ISignalConsumer* consumer) = 0;
    virtual void RegisterShutdownHandler(IShutdownHandler* handler) = 0;
    virtual void RegisterChildExitedHandler(IChildExitedHandler* handler) = 0;
    virtual void UnRegisterChildExitedHandler(IChildExitedHandler* handler) = 0;
    virtual void Lock() = 0;
    virtual void UnLock() = 0;
    virtual void SetExec(UIoExec* exec, void* param) = 0;
    // From threads other than the loop's; wakes the loop.
    virtual void SetExecLocked(UIoExec* exec, void* param) = 0;
    virtual void CancelSetExec(UIoExec* exec) = 0;
    virtual void Shutdown() = 0;
    virtual void ShutdownTimeout() = 0;
    virtual void ShutdownComplete(IShutdownHandler* handler) = 0;
};
