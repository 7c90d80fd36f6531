#include "messages/messages_service.h"

#include "messages/messages.h"
#include "service/app_instance.h"

MessagesService::MessagesService(IIoMux* iomux, ISocketProvider* localSocketProvider,
                                 ISocketProvider* tcpSocketProvider, IWebserverPluginProvider* webserverPluginProvider,
                                 IDatabaseProvider* databaseProvider, IDbFilesProvider* dbFilesProvider,
                                 AppServiceArgs* args)
    : AppService(iomux, localSocketProvider, args), tcpSocketProvider(tcpSocketProvider),
      webserverPluginProvider(webserverPluginProvider), databaseProvider(databaseProvider),
      dbFilesProvider(dbFilesProvider)
{
}

MessagesService::~MessagesService() {}

void MessagesService::AppServiceApps(istd::list*) {}

void MessagesService::AppInstancePlugins(istd::list* plugins)
{
    plugins->push_back(new AppInstancePlugin("solvantique.ManagerMessages", "solvantique-messages.png",
                                             "solvantique.ManagerMessagesTexts", nullptr, false));
}

AppInstance* MessagesService::CreateInstance(AppInstanceArgs* args)
{
    return new Messages(iomux, webserverPluginProvider, localSocketProvider, tcpSocketProvider, databaseProvider,
                        dbFilesProvider, this, args);
}
