#pragma once

#include <utility>
#include <vector>

#include "database/database.h"
#include "database/reconnect_backoff.h"
#include "messages/messages_common.h"
#include "messages/messages_readers.h"
#include "runtime/btree.h"
#include "runtime/task.h"
#include "runtime/timer.h"
#include "service/app_instance.h"
#include "web/app_updates.h"
#include "web/json_api.h"
#include "web/webserver_plugin.h"

class AppService;
class AppInstanceArgs;
class IDatabaseProvider;
class IDbFiles;
class IDbFilesProvider;
class IIoMux;
class ISocketProvider;
class MessagesSession;

// One running app instance: its database, its webserver link, its file
// store and its sessions. HTTP requests are served from construction on;
// websockets only once the start-up chain (database fix, schema, data
// updates, file store) has completed.
class Messages : public UWebserverPlugin,
                 public UDatabase,
                 public AppInstance,
                 public AppUpdates,
                 public JsonApiContext,
                 public MessagesCommon,
                 public UTask,
                 public UTimer,
                 public UMessagesReaders {
public:
    // The TCP socket provider is not kept: attachments are fetched over
    // connections the HTTP client opens itself.
    Messages(IIoMux* iomux, IWebserverPluginProvider* webserverPluginProvider, ISocketProvider* localSocketProvider,
             ISocketProvider* tcpSocketProvider, IDatabaseProvider* databaseProvider,
             IDbFilesProvider* dbFilesProvider, AppService* service, AppInstanceArgs* args);
    ~Messages() override;
    void Stop() override;

    // Reports AppStopped once stopping and the link, the database, every
    // file transaction and every session are gone. Deletes this object when
    // it does.
    void TryStop();
    bool AcceptsWebsockets() const { return listening; }
    const char* AppWebsocketPassword() const { return password; }
    IDatabase* GetDatabase() const { return database; }
    // The database while it is connected and its schema complete, else null:
    // requests fail at once then rather than wait for a database that may
    // take long to come back.
    IDatabase* UsableDatabase() const override { return databaseReady ? database : nullptr; }
    // For a read outside any transaction: a reader connection when one is
    // up, else the usable database.
    IDatabase* ReadDatabase();
    IDbFiles* GetDbFiles() const override { return dbFiles; }
    // The file store while the database is usable, else null.
    IDbFiles* UsableDbFiles() const { return databaseReady ? dbFiles : nullptr; }
    IIoMux* GetIoMux() const override { return iomux; }
    // The web path the instance is served under, such as "/messages".
    const char* WebPath() const { return path; }

    MessagesSession* FindSession(unsigned long long sessionId) const;
    // The session of that number whose key matches; with a user session
    // number, that user session must exist in it with the key instead.
    MessagesSession* findSession(unsigned long long sessionId, unsigned long long userSessionId,
                                 unsigned long long key) const;
    // The session tree, kept by the sessions themselves.
    void AddSession(MessagesSession* session);
    void RemoveSession(MessagesSession* session);

    // An HTTP file request has begun or ended. While any is open a stopping
    // instance does not report itself stopped, and a database (with its file
    // store) that shut down is kept, closed, because a request may still hold
    // one of its tasks; the last to end lets them go.
    void FileTransferBegin() { fileTransactions++; }
    void FileTransferEnd();
    // A fetch of attachments holds the database and the store as a file request does.
    void AttachmentBegun() override { FileTransferBegin(); }
    void AttachmentEnded() override { FileTransferEnd(); }

    void WebserverPluginClose(IWebserverPlugin* plugin, wsp_close_reason_t reason, bool lastUser) override;
    void WebserverPluginHttpListenResult(IWebserverPlugin* plugin, ws_request_type_t type, char* resourceName,
                                         const char* registeredPathForRequest, unsigned long long dataSize) override;
    void WebserverPluginWebsocketListenResult(IWebserverPlugin* plugin, const char* path,
                                              const char* registeredPathForRequest, const char* host) override;
    // The webserver takes websockets for the instance from now on: the line
    // on standard output that says it is ready, again after each relink.
    void WebserverPluginRegisterPathResult(IWebserverPlugin* plugin, const char* path, wsp_path_type_t type) override;

    void DatabaseConnectComplete(IDatabase* db) override;
    void DatabaseShutdown(IDatabase* db, db_error_t error) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;

    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void TaskProgress(ITask* task, unsigned progress) override;
    // The next attempt to reach a lost database.
    void TimerOnTimeout(ITimer* timer) override;
    void ReadersStopped() override { TryStop(); }

private:
    enum StartStep { START_NONE, START_FIX, START_INIT, START_UPDATE, START_FILES, START_PREPARE, START_DONE };
    void StartNext(ITask* next, StartStep step);
    // A new connection (and file store on it) to the instance's database.
    void ConnectDatabase();
    // The chain has completed: clients are served.
    void Ready();
    void DeleteRetired();

    IIoMux* iomux;
    IDatabaseProvider* databaseProvider;
    IDbFilesProvider* dbFilesProvider;
    // A lost database is reached again after a back-off; the start-up
    // chain runs again on every new connection.
    ITimer reconnect;
    ReconnectBackoff backoff;
    bool databaseReady = false;
    bool databaseAlarm = false;
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
    MessagesReaders readers;
    // Databases and their stores that shut down while file requests were open.
    std::vector<std::pair<IDbFiles*, IDatabase*>> retired;
    btree* sessions = nullptr;
};
