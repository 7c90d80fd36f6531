#pragma once

#include <stddef.h>

class IIoMux;
class IInstanceLog;
class ISocket;

// Why a socket ended; reported once through USocket::SocketShutdown.
enum shutdownreason_t {
    SOCKET_SHUTDOWN_NORMAL = 0,           // Shutdown() was asked for and has completed
    SOCKET_SHUTDOWN_PEER_CLOSED = 2,      // the peer closed or reset the connection
    SOCKET_SHUTDOWN_ADDRESS_INVALID = 3,  // the address cannot be used (too long, no such path)
    SOCKET_SHUTDOWN_CONNECT_FAILED = 4,   // refused or otherwise failed to connect
    SOCKET_SHUTDOWN_IO_ERROR = 5,         // a read or write failed
};

const char* SocketShutdownReasonName(shutdownreason_t reason);

// The owner's side of a socket. Every callback comes on a later loop pass
// than the call that caused it. Inside a callback the owner may call any
// operation of the socket; it may delete the socket only in SocketShutdown.
class USocket {
public:
    virtual ~USocket() {}
    virtual void SocketConnectComplete(ISocket*) {}
    // A listening socket has a connection waiting: call Accept.
    virtual void SocketAcceptComplete(ISocket*) {}
    // The send queue has been emptied after it held data.
    virtual void SocketSendResult(ISocket*) {}
    // The buffer given to Recv now holds `len` bytes.
    virtual void SocketRecvResult(ISocket* socket, void* buf, size_t len) = 0;
    // The socket has ended; nothing follows. The owner deletes it.
    virtual void SocketShutdown(ISocket* socket, shutdownreason_t reason) = 0;
};

// A non-blocking stream socket on the event loop.
class ISocket {
public:
    virtual ~ISocket() {}
    // Local sockets take a path, TCP sockets "address:port" (IPv6 in brackets).
    virtual void Connect(const char* address) = 0;
    // Binds and listens; connections are announced by SocketAcceptComplete.
    virtual bool Listen(const char* address) = 0;
    // Takes the waiting connection; null when there is none or no descriptor is left.
    virtual ISocket* Accept(USocket* user) = 0;
    // Sends what the kernel takes at once and queues the rest, in order.
    virtual void Send(const void* data, size_t len) = 0;
    // One receive at a time: exactly `len` bytes, or whatever arrives (at
    // least one byte) when `partial` is set.
    virtual void Recv(void* buf, size_t len, bool partial = false) = 0;
    // Orderly end: the send queue is written out first.
    virtual void Shutdown() = 0;
    virtual size_t SendQueueSize() const = 0;
};

class ISocketProvider {
public:
    virtual ~ISocketProvider() {}
    virtual ISocket* CreateSocket(IIoMux* iomux, USocket* user, IInstanceLog* log) = 0;
};

ISocketProvider* CreateLocalSocketProvider();
ISocketProvider* CreateTCPSocketProvider();
