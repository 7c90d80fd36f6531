#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "messages/messages_service.h"
#include "net/socket.h"
#include "runtime/build_info.h"
#include "runtime/debug.h"
#include "runtime/iomux.h"
#include "service/app_args.h"
#include "web/webserver_plugin.h"

int main(int argc, char* argv[])
{
    if (AskedForHelp(argc, argv)) {
        fputs(appArgsUsage, stdout);
        return 0;
    }
    srand((unsigned)time(nullptr));
    IIoMux* iomux = IIoMux::Create(true, 0);
    ISocketProvider* localSocketProvider = CreateLocalSocketProvider();
    ISocketProvider* tcpSocketProvider = CreateTCPSocketProvider();
    IWebserverPluginProvider* webserverPluginProvider = CreateWebserverPluginProvider();
    // Blocks of files and upload buffers go to the server as they are, not as
    // hex text of twice their size.
    IDatabaseProvider* databaseProvider = CreatePostgreSQLDatabaseProvider(DB_BYTES_PARAMS_BINARY);
    IDbFilesProvider* dbFilesProvider = CreateDbFilesProvider();

    AppServiceArgs serviceArgs;
    serviceArgs.serviceId = "messages";
    serviceArgs.Parse(argc, argv, true);

    AppInstanceArgs instanceArgs;
    instanceArgs.SetDefaults();
    instanceArgs.Parse(argc, argv, true);

    debug->printf("messages %s (build %s) starting%s%s", messagesVersion, messagesBuild,
                  serviceArgs.manager ? " for manager " : "", serviceArgs.manager ? serviceArgs.manager : "");
    AppService* service = new MessagesService(iomux, localSocketProvider, tcpSocketProvider, webserverPluginProvider,
                                                databaseProvider, dbFilesProvider, &serviceArgs);
    if (!serviceArgs.manager) service->AppStart(&instanceArgs);

    iomux->Run();

    debug->printf("messages stopped");
    delete service;
    delete databaseProvider;
    delete webserverPluginProvider;
    delete localSocketProvider;
    delete tcpSocketProvider;
    delete dbFilesProvider;
    delete iomux;
    delete debug;
    debug = nullptr;
    // The loop ends only on these two: a manager closes its link after the
    // service has stopped, a process of its own is told by a signal.
    printf("messages: stopped (%s), exit code 0\n",
           serviceArgs.manager ? "the manager link has closed" : "a termination signal");
    fflush(stdout);
    return 0;
}
