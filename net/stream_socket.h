#pragma once

#include <sys/socket.h>

#include <vector>

#include "net/socket.h"
#include "runtime/iomux.h"

// The descriptor-level socket shared by the local and TCP providers; the
// families differ only in how an address text becomes a sockaddr.
class StreamSocket : public ISocket, public UIoContext, public UIoExec {
public:
    StreamSocket(IIoMux* iomux, USocket* user, IInstanceLog* log, unsigned long long logFlag);
    ~StreamSocket() override;

    void Connect(const char* address) override;
    bool Listen(const char* address) override;
    ISocket* Accept(USocket* user) override;
    void Send(const void* data, size_t len) override;
    void Recv(void* buf, size_t len, bool partial) override;
    void Shutdown() override;
    size_t SendQueueSize() const override { return sendQueue.size() - sendOffset; }

    void IoContextNotify(bool in, bool out) override;
    void IoExec(void* param) override;

protected:
    // Fills `addr` from the address text; false when it cannot be used.
    virtual bool ResolveAddress(const char* address, sockaddr_storage& addr, socklen_t& len) = 0;
    virtual StreamSocket* CreateAccepted(USocket* user) = 0;
    // Called before bind; local sockets remove a stale socket file here.
    virtual void PrepareListen(const sockaddr_storage&) {}

    IIoMux* iomux;
    USocket* user;
    IInstanceLog* log;
    unsigned long long logFlag;

private:
    enum State { IDLE, CONNECTING, CONNECTED, LISTENING, CLOSING, CLOSED };
    void SetState(State next);
    void Fail(shutdownreason_t reason);
    void TryRead();
    bool Flush();
    void Attach(int fd, State state);

    State state = IDLE;
    shutdownreason_t reason = SOCKET_SHUTDOWN_NORMAL;
    bool shutdownReported = false;
    std::vector<char> sendQueue;
    size_t sendOffset = 0;
    char* recvBuf = nullptr;
    size_t recvLen = 0;
    size_t recvGot = 0;
    bool recvPartial = false;
    bool recvPending = false;
    bool reading = false;
    // Small receives (a frame header, then its body) are served from one
    // read of what the kernel holds, instead of a system call each.
    std::vector<char> ahead;
    size_t aheadStart = 0;
    size_t aheadEnd = 0;
};
