#pragma once

#include "database/database.h"
#include "runtime/task.h"
#include "service/app_instance.h"
#include "web/webserver_plugin.h"

class AppService;
class AppInstanceArgs;
class IDatabaseProvider;
class IDbFiles;
class IDbFilesProvider;
class IIoMux;
class ISocketProvider;

// One running app instance: its database, its webserver link and its file
// store. HTTP requests are served from construction on; websockets only
// once the start-up chain (database fix, schema, data updates, file store)
// has completed.
class Messages : public UWebserverPlugin, public UDatabase, public AppInstance, public UTask {
public:
    Messages(IIoMux* iomux, IWebserverPluginProvider* webserverPluginProvider, ISocketProvider* localSocketProvider,
             ISocketProvider* tcpSocketProvider, IDatabaseProvider* databaseProvider,
             IDbFilesProvider* dbFilesProvider, AppService* service, AppInstanceArgs* args);
    ~Messages() override;
    void Stop() override;

    // Reports AppStopped once stopping and the link, the database and every
    // file transaction are gone. Deletes this object when it does.
    void TryStop();
    bool AcceptsWebsockets() const { return listening; }
    const char* AppWebsocketPassword() const { return password; }
    IDatabase* GetDatabase() const { return database; }
    IDbFiles* GetDbFiles() const { return dbFiles; }

    void WebserverPluginClose(IWebserverPlugin* plugin, wsp_close_reason_t reason, bool lastUser) override;
    void WebserverPluginHttpListenResult(IWebserverPlugin* plugin, ws_request_type_t type, char* resourceName,
                                         const char* registeredPathForRequest, unsigned long long dataSize) override;
    void WebserverPluginWebsocketListenResult(IWebserverPlugin* plugin, const char* path,
                                              const char* registeredPathForRequest, const char* host) override;

    void DatabaseConnectComplete(IDatabase* db) override;
    void DatabaseShutdown(IDatabase* db, db_error_t error) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;

    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void TaskProgress(ITask* task, unsigned progress) override;

private:
    enum StartStep { START_NONE, START_FIX, START_INIT, START_UPDATE, START_FILES, START_DONE };
    void StartNext(ITask* next, StartStep step);

    IIoMux* iomux;
    ISocketProvider* tcpSocketProvider;
    IDatabase* database = nullptr;
    IWebserverPlugin* plugin = nullptr;
    IDbFiles* dbFiles = nullptr;
    ITask* startTask = nullptr;
    StartStep startStep = START_NONE;
    unsigned fixProgress = 0;
    bool stopping = false;
    bool listening = false;
    char password[35];
    char* path;
    unsigned fileTransactions = 0;
};
