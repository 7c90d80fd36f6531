#include "net/stream_socket.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/assert.h"
#include "runtime/instance_log.h"

namespace {
// Deferred-call codes: what a later loop pass has to report.
void* const EXEC_READ = (void*)1;
void* const EXEC_CONNECTED = (void*)2;
void* const EXEC_SHUTDOWN = (void*)3;
// Enough for a burst of small frames; larger receives bypass it.
const size_t READ_AHEAD_SIZE = 16384;
}  // namespace

const char* SocketShutdownReasonName(shutdownreason_t reason)
{
    switch (reason) {
    case SOCKET_SHUTDOWN_NORMAL: return "normal";
    case SOCKET_SHUTDOWN_PEER_CLOSED: return "peer closed";
    case SOCKET_SHUTDOWN_ADDRESS_INVALID: return "address invalid";
    case SOCKET_SHUTDOWN_CONNECT_FAILED: return "connect failed";
    case SOCKET_SHUTDOWN_IO_ERROR: return "i/o error";
    }
    return "unknown";
}

StreamSocket::StreamSocket(IIoMux* iomux, USocket* user, IInstanceLog* log, unsigned long long logFlag)
    : iomux(iomux), user(user), log(log), logFlag(logFlag)
{
}

StreamSocket::~StreamSocket()
{
    iomux->CancelSetExec(this);
    if (registered) iomux->FDClose(this);
    else if (fd >= 0) close(fd);
}

void StreamSocket::SetState(State next)
{
    // Once closed a socket never comes back; everything else moves forward.
    ASSERT(state != CLOSED || next == CLOSED, "StreamSocket::SetState leaving CLOSED");
    state = next;
}

void StreamSocket::Attach(int newFd, State next)
{
    SetState(next);
    iomux->FDAdd(newFd, this, true);
}

void StreamSocket::Connect(const char* address)
{
    ASSERT(state == IDLE, "StreamSocket::Connect on a used socket");
    sockaddr_storage addr;
    socklen_t len = 0;
    if (!address || !ResolveAddress(address, addr, len)) {
        Fail(SOCKET_SHUTDOWN_ADDRESS_INVALID);
        return;
    }
    int s = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        Fail(SOCKET_SHUTDOWN_CONNECT_FAILED);
        return;
    }
    fd = s;
    if (connect(s, (sockaddr*)&addr, len) == 0) {
        Attach(s, CONNECTED);
        iomux->SetExec(this, EXEC_CONNECTED);
        return;
    }
    if (errno == EINPROGRESS || errno == EAGAIN) {
        Attach(s, CONNECTING);
        return;
    }
    int err = errno;
    if (log) log->Log(logFlag, "StreamSocket(%08x)::Connect %s failed (%s)", (unsigned)(size_t)this, address, strerror(err));
    Fail(err == ENOENT || err == ENOTDIR || err == EADDRNOTAVAIL ? SOCKET_SHUTDOWN_ADDRESS_INVALID
                                                                  : SOCKET_SHUTDOWN_CONNECT_FAILED);
}

bool StreamSocket::Listen(const char* address)
{
    ASSERT(state == IDLE, "StreamSocket::Listen on a used socket");
    sockaddr_storage addr;
    socklen_t len = 0;
    if (!address || !ResolveAddress(address, addr, len)) return false;
    int s = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    PrepareListen(addr);
    if (bind(s, (sockaddr*)&addr, len) < 0 || listen(s, 128) < 0) {
        close(s);
        return false;
    }
    Attach(s, LISTENING);
    return true;
}

ISocket* StreamSocket::Accept(USocket* newUser)
{
    if (state != LISTENING || !iomux->CanAcceptFD()) return nullptr;
    int s = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) return nullptr;
    StreamSocket* accepted = CreateAccepted(newUser);
    accepted->Attach(s, CONNECTED);
    return accepted;
}

void StreamSocket::Send(const void* data, size_t len)
{
    if (state != CONNECTED && state != CONNECTING) return;
    if (sendOffset == sendQueue.size()) {
        sendQueue.clear();
        sendOffset = 0;
    }
    const char* p = (const char*)data;
    // Inside the read loop the answers to a burst of input are gathered and
    // go out together when the loop ends.
    if (state == CONNECTED && SendQueueSize() == 0 && !reading) {
        while (len > 0) {
            ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
            if (n > 0) {
                p += n;
                len -= n;
            }
            else if (n < 0 && errno == EINTR) continue;
            else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            else {
                Fail(SOCKET_SHUTDOWN_IO_ERROR);
                return;
            }
        }
    }
    sendQueue.insert(sendQueue.end(), p, p + len);
}

void StreamSocket::Recv(void* buf, size_t len, bool partial)
{
    ASSERT(!recvPending, "StreamSocket::Recv while a receive is pending");
    if (state == CLOSED) return;
    recvBuf = (char*)buf;
    recvLen = len;
    recvGot = 0;
    recvPartial = partial;
    recvPending = true;
    // Edge-triggered: data may already wait in the kernel, so look on the next pass,
    // unless this comes from our own read loop, which goes on reading anyway.
    if (!reading) iomux->SetExec(this, EXEC_READ);
}

void StreamSocket::Shutdown()
{
    if (state == CLOSING || state == CLOSED) return;
    if (state == CONNECTED && SendQueueSize() > 0) {
        SetState(CLOSING);
        return;
    }
    Fail(SOCKET_SHUTDOWN_NORMAL);
}

void StreamSocket::Fail(shutdownreason_t why)
{
    if (state == CLOSED) return;
    if (log && why != SOCKET_SHUTDOWN_NORMAL)
        log->Log(logFlag, "StreamSocket(%08x)::Shutdown %s", (unsigned)(size_t)this, SocketShutdownReasonName(why));
    SetState(CLOSED);
    reason = why;
    recvPending = false;
    if (registered) iomux->FDClose(this);
    else if (fd >= 0) close(fd);
    fd = -1;
    iomux->CancelSetExec(this);
    iomux->SetExec(this, EXEC_SHUTDOWN);
}

bool StreamSocket::Flush()
{
    bool hadData = SendQueueSize() > 0;
    while (SendQueueSize() > 0) {
        ssize_t n = send(fd, sendQueue.data() + sendOffset, SendQueueSize(), MSG_NOSIGNAL);
        if (n > 0) sendOffset += n;
        else if (n < 0 && errno == EINTR) continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        else {
            Fail(SOCKET_SHUTDOWN_IO_ERROR);
            return false;
        }
    }
    sendQueue.clear();
    sendOffset = 0;
    return hadData;
}

void StreamSocket::TryRead()
{
    reading = true;
    while (recvPending && (state == CONNECTED || state == CLOSING)) {
        if (aheadStart == aheadEnd) {
            // A large receive goes straight into the owner's buffer.
            size_t wanted = recvLen - recvGot;
            bool direct = wanted >= READ_AHEAD_SIZE;
            if (!direct && ahead.empty()) ahead.resize(READ_AHEAD_SIZE);
            char* into = direct ? recvBuf + recvGot : ahead.data();
            ssize_t n = read(fd, into, direct ? wanted : ahead.size());
            if (n <= 0) {
                if (n == 0) Fail(SOCKET_SHUTDOWN_PEER_CLOSED);
                else if (errno == EINTR) continue;
                else if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                else Fail(errno == ECONNRESET ? SOCKET_SHUTDOWN_PEER_CLOSED : SOCKET_SHUTDOWN_IO_ERROR);
                continue;
            }
            if (log && (log->logFlags & logFlag) && logFlag == LOG_LOCAL_SOCKETS) log->HexDump(logFlag, into, (unsigned)n);
            if (direct) recvGot += n;
            else aheadStart = 0, aheadEnd = n;
        }
        size_t n = std::min(recvLen - recvGot, aheadEnd - aheadStart);
        if (n) memcpy(recvBuf + recvGot, ahead.data() + aheadStart, n);
        aheadStart += n;
        recvGot += n;
        if (recvPartial || recvGot == recvLen) {
            recvPending = false;
            // The owner may issue the next Recv from here; the loop goes on with it.
            user->SocketRecvResult(this, recvBuf, recvGot);
        }
    }
    reading = false;
    // What the burst's handlers sent goes out in one write.
    if ((state == CONNECTED || state == CLOSING) && SendQueueSize() > 0) {
        if (Flush() && state == CONNECTED) user->SocketSendResult(this);
        if (state == CLOSING && SendQueueSize() == 0) Fail(SOCKET_SHUTDOWN_NORMAL);
    }
}

void StreamSocket::IoContextNotify(bool in, bool out)
{
    if (state == CONNECTING) {
        if (!out && !error && !hangup) return;
        int err = 0;
        socklen_t len = sizeof(err);
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err) {
            Fail(err == ENOENT ? SOCKET_SHUTDOWN_ADDRESS_INVALID : SOCKET_SHUTDOWN_CONNECT_FAILED);
            return;
        }
        SetState(CONNECTED);
        user->SocketConnectComplete(this);
        if (state != CONNECTED) return;
    }
    if (state == LISTENING) {
        if (in) user->SocketAcceptComplete(this);
        return;
    }
    if ((out || error || hangup) && (state == CONNECTED || state == CLOSING)) {
        if (Flush() && state == CONNECTED) user->SocketSendResult(this);
        if (state == CLOSING && SendQueueSize() == 0) Fail(SOCKET_SHUTDOWN_NORMAL);
    }
    if ((in || error || hangup) && (state == CONNECTED || state == CLOSING)) TryRead();
}

void StreamSocket::IoExec(void* param)
{
    if (param == EXEC_READ) TryRead();
    else if (param == EXEC_CONNECTED) {
        if (state == CONNECTED) user->SocketConnectComplete(this);
    }
    else if (param == EXEC_SHUTDOWN && !shutdownReported) {
        shutdownReported = true;
        // Last call: the owner may delete this socket inside it.
        user->SocketShutdown(this, reason);
    }
}
