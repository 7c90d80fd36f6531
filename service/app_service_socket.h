#pragma once

#include <stddef.h>

#include "net/socket.h"
#include "runtime/instance_log.h"
#include "runtime/iomux.h"
#include "runtime/istd_list.h"

class AppInstanceArgs;
class json_io;

// What the manager link asks of its owner, the service.
class UAppServiceSocket {
public:
    virtual void AppServiceShutdown() = 0;
    virtual void AppServiceShutdownTimeout() = 0;
    virtual void AppStart(AppInstanceArgs* args) = 0;
    virtual void UpdateServerCertificate(const char* cert) = 0;
    virtual void AppServiceApps(istd::list* apps) = 0;
    virtual void AppStop(const char* appName, const char* appDomain) = 0;
    virtual void AppSetLogFlags(const char* appName, const char* appDomain, unsigned long long logFlags) = 0;
    virtual void UpdateAppPlatformDNSName(const char* dns) = 0;
    virtual void AppInstancePlugins(istd::list*) {}
    virtual void AppDomain(const char* appName, const char* appDomain, const char* domain, const char* pwd) = 0;
    virtual void AppServiceVersion(const char*& build, const char*& label) { (void)build, (void)label; }
    virtual const char* GetAppDomain() const = 0;
    virtual const char* GetAppName() const = 0;
};

// The connection to the platform manager: length-prefixed JSON both ways.
// It is also the loop's shutdown handler, so every way of ending the process
// (manager request, signal, lost connection) runs through its Shutdown().
class AppServiceSocket : public IShutdownHandler, public USocket, public IInstanceLog {
public:
    AppServiceSocket(IIoMux* iomux, ISocketProvider* localSocketProvider, UAppServiceSocket* owner,
                     const char* serviceId, const char* managerPath);
    ~AppServiceSocket() override;

    // The service tells the link that no instance is left.
    void AppsClosed();
    // Sends one JSON message (the encoded text of `len` bytes); only while connected.
    void SendMessage(const char* json, unsigned short len);
    bool IsConnected() const { return connected; }
    bool HasSocket() const { return socket != nullptr; }

    void Shutdown() override;
    void ShutdownTimeout() override;

    void SocketConnectComplete(ISocket* s) override;
    void SocketRecvResult(ISocket* s, void* buf, size_t len) override;
    void SocketShutdown(ISocket* s, shutdownreason_t reason) override;

private:
    void SendInitConnection();
    void ReadHeader();
    void Dispatch(char* text);
    void HandleAppStart(json_io& msg, unsigned short instance);
    void HandleSetServiceLogging(json_io& msg);

    IIoMux* iomux;
    UAppServiceSocket* owner;
    ISocket* socket = nullptr;
    char* serviceId;
    bool connected = false;
    bool appsClosed = false;
    bool shutdownRequested = false;
    bool shutdownReported = false;
    bool stopReading = false;

    // Receive state: a 4-byte header, then a body of that length. Bodies too
    // large for any valid message are read and thrown away in pieces.
    enum RecvState { RECV_HEADER, RECV_BODY, RECV_DISCARD };
    RecvState recvState = RECV_HEADER;
    unsigned char header[4];
    char* body = nullptr;
    unsigned bodyLength = 0;
    unsigned discardLeft = 0;
    char discard[4096];
};
