#pragma once

#include "runtime/btree.h"
#include "runtime/instance_log.h"
#include "service/app_service_socket.h"

class AppInstance;
class AppServiceArgs;

// Owner of every app instance of the process, driven by the manager link
// (or, without a manager, by the command line and termination signals).
class AppService : public UAppServiceSocket, public IInstanceLog {
public:
    AppService(IIoMux* iomux, ISocketProvider* localSocketProvider, AppServiceArgs* args);
    ~AppService() override;
    virtual AppInstance* CreateInstance(AppInstanceArgs* args) = 0;

    void AppServiceShutdown() override;
    void AppServiceShutdownTimeout() override;
    void AppStart(AppInstanceArgs* args) override;
    void UpdateServerCertificate(const char* cert) override;
    void AppStop(const char* appName, const char* appDomain) override;
    void AppSetLogFlags(const char* appName, const char* appDomain, unsigned long long logFlags) override;
    void UpdateAppPlatformDNSName(const char* dns) override;
    void AppDomain(const char* appName, const char* appDomain, const char* domain, const char* pwd) override;
    const char* GetAppDomain() const override { return nullptr; }
    const char* GetAppName() const override { return nullptr; }

    // Called by an instance that has finished stopping; the service deletes it.
    void AppStopped(AppInstance* instance);
    void SetAllInstancesLogFlags(unsigned long long flags);
    const char* GetAppServiceId() const { return serviceId; }
    const char* GetAppPlatformDNSName() const { return dns; }
    AppInstance* FindInstance(const char* appName, const char* appDomain);
    unsigned InstanceCount() const { return instanceCount; }

    // Used by AppInstance for its messages to the manager.
    void SendStatusUpdate(AppInstance* instance, const char* webserverPath, bool status);
    void SendAlarm(AppInstance* instance, int type, unsigned code, const char* severity, const char* text,
                   const char* details);

protected:
    IIoMux* iomux;
    ISocketProvider* localSocketProvider;

private:
    AppInstance* First();
    AppInstance* Next(AppInstance* after);
    void StopAll();
    void CheckAppsClosed();

    char* serviceId;
    char* dns;
    char* certificate = nullptr;
    size_t certificateLength = 0;
    bool stopping = false;
    bool shuttingDown = false;
    btree* instances = nullptr;
    unsigned instanceCount = 0;
    AppServiceSocket socket;
};
