#pragma once

#include "service/app_service.h"

class AppServiceArgs;

// The service of this process: it creates Messages instances.
class MessagesService : public AppService {
public:
    MessagesService(IIoMux* iomux, ISocketProvider* localSocketProvider, ISocketProvider* tcpSocketProvider,
                    AppServiceArgs* args);
    ~MessagesService() override;
    void AppServiceApps(istd::list* apps) override;
    void AppInstancePlugins(istd::list* plugins) override;
    AppInstance* CreateInstance(AppInstanceArgs* args) override;

private:
    ISocketProvider* tcpSocketProvider;
};
