#pragma once

#include "service/app_service.h"

class AppServiceArgs;
class IDatabaseProvider;
class IDbFilesProvider;
class IWebserverPluginProvider;

// The service of this process: it creates Messages instances with the
// providers the process entry owns.
class MessagesService : public AppService {
public:
    MessagesService(IIoMux* iomux, ISocketProvider* localSocketProvider, ISocketProvider* tcpSocketProvider,
                    IWebserverPluginProvider* webserverPluginProvider, IDatabaseProvider* databaseProvider,
                    IDbFilesProvider* dbFilesProvider, AppServiceArgs* args);
    ~MessagesService() override;
    void AppServiceApps(istd::list* apps) override;
    void AppInstancePlugins(istd::list* plugins) override;
    AppInstance* CreateInstance(AppInstanceArgs* args) override;

private:
    ISocketProvider* tcpSocketProvider;
    IWebserverPluginProvider* webserverPluginProvider;
    IDatabaseProvider* databaseProvider;
    IDbFilesProvider* dbFilesProvider;
};
