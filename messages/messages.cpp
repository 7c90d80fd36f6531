#include "messages/messages.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "database/db_error.h"
#include "dbfiles/dbfiles.h"
#include "messages/http/file_buffers.h"
#include "messages/http/file_route.h"
#include "messages/http/message_files.h"
#include "messages/http/static_route.h"
#include "messages/messages_options.h"
#include "messages/messages_session.h"
#include "messages/schema/task_database_fix.h"
#include "messages/schema/task_database_init.h"
#include "messages/schema/task_database_update.h"
#include "runtime/assert.h"
#include "runtime/build_info.h"
#include "service/app_args.h"
#include "service/app_service.h"

namespace {
// How attachments refer to their message: the file store's rows go with it.
const char* const FILES_FOLDER_DEFINITION = "BIGINT REFERENCES messages(id) ON DELETE CASCADE";
// The manager's alarm codes of an instance.
const unsigned ALARM_START_UP = 1;
const unsigned ALARM_DATABASE = 2;
const char* const startStepNames[] = {"none",       "database fix",         "database init", "database update",
                                      "file store", "statement preparation", "done"};
// Reader connections. Each command costs a loop pass of the service besides
// its execution, so one connection in flight leaves the server idle between
// commands; four kept the two cores of the load benchmark's machine busy.
const unsigned READERS = 4;
}  // namespace

Messages::Messages(IIoMux* iomux, IWebserverPluginProvider* webserverPluginProvider,
                   ISocketProvider* localSocketProvider, ISocketProvider*,
                   IDatabaseProvider* databaseProvider, IDbFilesProvider* dbFilesProvider, AppService* service,
                   AppInstanceArgs* args)
    : AppInstance(service, args), AppUpdates(iomux), MessagesCommon(nullptr), iomux(iomux),
      databaseProvider(databaseProvider), dbFilesProvider(dbFilesProvider),
      reconnect(iomux, this), readers(iomux, databaseProvider, this, this)
{
    // Longer passwords cannot match a login anyway; they are cut, and said so.
    const char* pwd = args->appPassword ? args->appPassword : "";
    if (strlen(pwd) >= sizeof(password)) Log("App instance password longer than %zu characters is cut", sizeof(password) - 1);
    strncpy(password, pwd, sizeof(password) - 1);
    password[sizeof(password) - 1] = 0;
    plugin = webserverPluginProvider->CreateWebserverPlugin(iomux, localSocketProvider, this, args->webserver,
                                                            args->webserverPath, this);
    plugin->HttpListen(nullptr, nullptr, nullptr, nullptr, messagesBuild);
    ConnectDatabase();
    path = strdup(args->webserverPath ? args->webserverPath : "");
    Log("App instance started");
    logFlags |= LOG_APP_WEBSOCKET | LOG_DATABASE;
}

Messages::~Messages()
{
    // The filter groups (MessagesCommon) go before the distribution (AppUpdates).
    DropPending();
    delete plugin;
    delete startTask;
    delete dbFiles;
    delete database;
    database = nullptr;
    DeleteRetired();
    free(path);
}

void Messages::ConnectDatabase()
{
    database = databaseProvider->CreateDatabase(iomux, this, this);
    database->Connect(dbHost, dbName, dbUser, dbPassword);
    dbFiles = dbFilesProvider->CreateDbFiles(iomux, this, nullptr);
}

void Messages::TimerOnTimeout(ITimer*)
{
    if (stopping || database) return;
    Log("Messages reconnecting to the database");
    ConnectDatabase();
}

void Messages::Stop()
{
    if (stopping) return;
    Log("App instance stopping");
    stopping = true;
    reconnect.Cancel();
    // Fetches end soon; what they stored is listed while the database still takes it.
    attachments.Stop();
    if (database) database->Shutdown();
    readers.Stop();
    if (plugin) plugin->Close();
    else TryStop();
}

void Messages::TryStop()
{
    // Sessions hold requests that refer to the instance until they end.
    if (stopping && !plugin && !database && readers.Stopped() && !fileTransactions && !sessions)
        service->AppStopped(this);
}

void Messages::WebserverPluginClose(IWebserverPlugin* closed, wsp_close_reason_t reason, bool lastUser)
{
    if (!lastUser) return;
    Log("Messages::WebserverPluginClose reason %d", (int)reason);
    delete closed;
    plugin = nullptr;
    listening = false;
    TryStop();
}

void Messages::WebserverPluginHttpListenResult(IWebserverPlugin* link, ws_request_type_t type, char* resourceName,
                                               const char*, unsigned long long)
{
    MessagesFileRoute r = MessagesRouteRequest(type, resourceName);
    switch (r.kind) {
    case MessagesFileRoute::OPTIONS: return link->Accept(new MessagesOptions());
    case MessagesFileRoute::STATIC: return MessagesRouteStatic(link, resourceName);
    case MessagesFileRoute::FILE_GET:
    case MessagesFileRoute::FILE_POST:
    case MessagesFileRoute::FILE_DEL:
        // Uploads and deletions name the session alone, never a user session.
        if (!findSession(r.session, r.kind == MessagesFileRoute::FILE_GET ? r.userSession : 0, r.sessionKey))
            return link->Cancel(WSP_CANCEL_NOT_FOUND);
        break;
    case MessagesFileRoute::BUFFER_GET:
    case MessagesFileRoute::BUFFER_POST: break;
    default: return link->Cancel(WSP_CANCEL_NOT_FOUND);
    }
    // Files live in the database: while it is away (or the instance stops)
    // they cannot be had.
    IDbFiles* store = UsableDbFiles();
    if (stopping || !store) return link->Cancel(WSP_CANCEL_UNAVAILABLE);
    switch (r.kind) {
    case MessagesFileRoute::FILE_GET: return link->Accept(new MessageGet(this, store, r.id, r.name));
    case MessagesFileRoute::FILE_POST: return link->Accept(new MessagePost(this, store, r.message, r.name));
    case MessagesFileRoute::FILE_DEL: return link->Accept(new MessageDel(this, store, r.id));
    case MessagesFileRoute::BUFFER_GET: return link->Accept(new MessagesFileBufferGet(this, database, r.id, r.key));
    default: return link->Accept(new MessagesFileBufferPost(this, database, r.id, r.key));
    }
}

void Messages::FileTransferEnd()
{
    ASSERT(fileTransactions, "Messages::FileTransferEnd without a file transfer");
    if (--fileTransactions) return;
    DeleteRetired();
    TryStop();
}

void Messages::DeleteRetired()
{
    for (auto& r : retired) {
        delete r.first;
        delete r.second;
    }
    retired.clear();
}

void Messages::WebserverPluginWebsocketListenResult(IWebserverPlugin* link, const char*, const char*, const char* host)
{
    if (stopping) {
        link->WebsocketAccept(nullptr);
        return;
    }
    // The session accepts the websocket and lives on its own from here.
    new MessagesSession(this, link, host);
}

void Messages::AddSession(MessagesSession* session)
{
    sessions = btree::btree_put(sessions, session);
}

void Messages::RemoveSession(MessagesSession* session)
{
    sessions = btree::btree_get(sessions, session);
}

MessagesSession* Messages::FindSession(unsigned long long sessionId) const
{
    return static_cast<MessagesSession*>(btree::btree_find(sessions, &sessionId));
}

MessagesSession* Messages::findSession(unsigned long long sessionId, unsigned long long userSessionId,
                                       unsigned long long key) const
{
    MessagesSession* session = FindSession(sessionId);
    if (!session) return nullptr;
    if (!userSessionId) return session->key == key ? session : nullptr;
    MessagesUserSession* user = session->FindUserSession(userSessionId);
    return user && user->key == key ? session : nullptr;
}

void Messages::DatabaseConnectComplete(IDatabase*)
{
    // Every new connection completes the schema again: the database may have
    // been restored or replaced meanwhile.
    if (startStep != START_NONE) return;
    StartNext(new TaskDatabaseFix(database), START_FIX);
}

void Messages::StartNext(ITask* next, StartStep step)
{
    // The finished task is deleted after the next one has started.
    ITask* finished = startTask;
    startTask = next;
    startStep = step;
    if (next) next->Start(this);
    delete finished;
}

void Messages::TaskProgress(ITask* task, unsigned progress)
{
    if (task == startTask && startStep == START_FIX) fixProgress = progress;
}

void Messages::TaskComplete(ITask* task)
{
    if (task == &statements) return Ready();
    if (task != startTask) return;
    switch (startStep) {
    case START_FIX: StartNext(new TaskDatabaseInit(database), START_INIT); break;
    case START_INIT: StartNext(new TaskDatabaseUpdate(database, fixProgress), START_UPDATE); break;
    case START_UPDATE: {
        ITask* filesStart = dbFiles->Start(this, database, FILES_FOLDER_DEFINITION);
        // The store runs the task itself; we only own it from here on.
        delete startTask;
        startTask = filesStart;
        startStep = START_FILES;
        break;
    }
    case START_FILES:
        StartNext(nullptr, START_PREPARE);
        statements.Prepare(database, this);
        break;
    default: break;
    }
}

void Messages::Ready()
{
    StartNext(nullptr, START_DONE);
    Log("App instance ready");
    databaseReady = true;
    backoff.Reset();
    if (databaseAlarm) ClearAlarm(ALARM_DATABASE, "major", "database unavailable", nullptr);
    databaseAlarm = false;
    // Only a complete schema is read from; the readers reconnect by themselves.
    readers.Start(READERS, dbHost, dbName, dbUser, dbPassword);
    if (plugin && !stopping && !listening) {
        plugin->WebsocketListen(nullptr, nullptr);
        listening = true;
    }
}

IDatabase* Messages::ReadDatabase()
{
    if (!databaseReady) return nullptr;
    IDatabase* reader = readers.Pick();
    return reader ? reader : database;
}

void Messages::WebserverPluginRegisterPathResult(IWebserverPlugin*, const char* path, wsp_path_type_t type)
{
    if (type != WSP_PATH_TYPE_WEBSOCKET) return;
    printf("messages: ready, instance %s@%s takes websockets at %s through the webserver at %s\n", appName, appDomain,
           path, webserver ? webserver : "");
    fflush(stdout);
}

void Messages::TaskFailed(ITask* task)
{
    // Statements fail to prepare only with the connection, whose loss follows.
    if (task == &statements) return;
    if (task != startTask) return;
    // Without its schema the instance must not take clients; it keeps
    // answering HTTP and waits for the next start.
    Log("App instance start-up failed at the %s step", startStepNames[startStep]);
    SetAlarm(ALARM_START_UP, "major", "start-up failed", startStepNames[startStep]);
    StartNext(nullptr, START_DONE);
}

void Messages::DatabaseShutdown(IDatabase* db, db_error_t error)
{
    // A retired database tells its owner nothing more that matters.
    if (db != database) return;
    Log("Messages::DatabaseShutdown error %d", (int)error);
    databaseReady = false;
    statements.Forget();
    // Tasks still running would touch the database we are about to delete.
    if (startStep != START_DONE) StartNext(nullptr, START_DONE);
    // Open file requests may still hold tasks of the store: it goes with the last of them.
    retired.push_back({dbFiles, database});
    if (!fileTransactions) DeleteRetired();
    dbFiles = nullptr;
    database = nullptr;
    if (stopping) return TryStop();
    // Requests fail at once until the database is back and complete again.
    startStep = START_NONE;
    if (!databaseAlarm) SetAlarm(ALARM_DATABASE, "major", "database unavailable", DbErrorName(error));
    databaseAlarm = true;
    unsigned delay = backoff.Next();
    Log("Messages database lost, next attempt in %u ms", delay);
    reconnect.Start(delay);
}

void Messages::DatabaseError(IDatabase* db, db_error_t error)
{
    if (db != database) return;
    // The owner hears errors only for its own commands; the connection is
    // treated as lost and shut down, which ends in DatabaseShutdown.
    Log("Messages::DatabaseError error %d", (int)error);
    if (database) database->Shutdown();
}
