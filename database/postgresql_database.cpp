#include "database/postgresql_database.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "database/sql_params.h"
#include "database/sql_prepare.h"
#include "database/sql_print.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

static const size_t SQL_WORK_BUFFER = 250 * 1024;
static const char RETURNING_ID[] = " RETURNING id";

PostgreSQLDatabase::PostgreSQLDatabase(IIoMux* iomux, UDatabase* owner, IInstanceLog* log,
                                       db_bytes_params_t bytesParams)
    : iomux(iomux), owner(owner), log(log), bytesParams(bytesParams), workBuffer((char*)malloc(SQL_WORK_BUFFER))
{
    logId[0] = (unsigned)(uintptr_t)this;
    logId[1] = (unsigned)(uintptr_t)owner;
}

PostgreSQLDatabase::~PostgreSQLDatabase()
{
    // Statements and data sets may outlive the database; they only lose
    // their way back to it.
    while (!statements.empty()) {
        PSQLPreparedStatement* s = static_cast<PSQLPreparedStatement*>(statements.front());
        statements.remove(s);
        s->Detach();
    }
    // A prepare still queued owns a statement that must not call back either.
    for (PostgreSQLCommand* cmd = queue.Head(); cmd; cmd = cmd->next)
        if (cmd->statement) cmd->statement->Detach();
    if (dataSet) dataSet->Detach();
    if (firstResult) PQclear(firstResult);
    if (registered) iomux->FDRem(this);
    if (conn) PQfinish(conn);
    iomux->CancelSetExec(this);
    free(lastErrorMessage);
    free(lastErrorCode);
    free(workBuffer);
}

const char* PgStateName(pg_state_t state)
{
    static const char* names[] = {"not connected", "connecting", "ready", "waiting for result",
                                  "single row sent", "single row", "ready locked", "single row fetch", "draining", "closed"};
    return (unsigned)state < sizeof(names) / sizeof(names[0]) ? names[state] : "?";
}

// Every state change goes through here, so an impossible one stops the
// process where it happens instead of corrupting the queue later.
void PostgreSQLDatabase::SetState(pg_state_t next)
{
    unsigned allowed = 0;
#define PG_TO(s) (1u << (s))
    switch (state) {
    case PG_NOT_CONNECTED: allowed = PG_TO(PG_CONNECTING) | PG_TO(PG_CLOSED); break;
    case PG_CONNECTING: allowed = PG_TO(PG_READY) | PG_TO(PG_NOT_CONNECTED) | PG_TO(PG_CLOSED); break;
    case PG_READY:
        allowed = PG_TO(PG_READY) | PG_TO(PG_READY_LOCKED) | PG_TO(PG_WAIT_RESULT) | PG_TO(PG_SINGLE_ROW_SENT) |
                  PG_TO(PG_NOT_CONNECTED) | PG_TO(PG_CLOSED);
        break;
    case PG_READY_LOCKED:
        allowed = PG_TO(PG_READY) | PG_TO(PG_READY_LOCKED) | PG_TO(PG_NOT_CONNECTED) | PG_TO(PG_CLOSED);
        break;
    case PG_WAIT_RESULT:
        allowed = PG_TO(PG_READY) | PG_TO(PG_READY_LOCKED) | PG_TO(PG_NOT_CONNECTED);
        break;
    case PG_SINGLE_ROW_SENT:
    case PG_SINGLE_ROW_FETCH:
        allowed = PG_TO(PG_SINGLE_ROW) | PG_TO(PG_DRAINING) | PG_TO(PG_NOT_CONNECTED);
        break;
    case PG_SINGLE_ROW: allowed = PG_TO(PG_SINGLE_ROW_FETCH) | PG_TO(PG_DRAINING) | PG_TO(PG_NOT_CONNECTED); break;
    case PG_DRAINING:
        allowed = PG_TO(PG_READY) | PG_TO(PG_READY_LOCKED) | PG_TO(PG_NOT_CONNECTED);
        break;
    case PG_CLOSED: break;
    }
#undef PG_TO
    if (!(allowed & (1u << next))) {
        if (log)
            log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::SetState %s -> %s", logId[0], logId[1],
                     PgStateName(state), PgStateName(next));
        FATAL("PostgreSQLDatabase::SetState impossible state transition");
    }
    state = next;
}

void PostgreSQLDatabase::Schedule(pg_exec_t what)
{
    scheduledCalls++;
    iomux->SetExec(this, (void*)(uintptr_t)what);
}

void PostgreSQLDatabase::SetLastError(const char* message, const char* code)
{
    // Either argument may be the field it replaces: copy before freeing.
    char* newMessage = strdup(message ? message : "");
    char* newCode = strdup(code ? code : "");
    free(lastErrorMessage);
    free(lastErrorCode);
    lastErrorMessage = newMessage;
    lastErrorCode = newCode;
}

const char* PostgreSQLDatabase::GetLastErrorMessage()
{
    return lastErrorMessage ? lastErrorMessage : "";
}

const char* PostgreSQLDatabase::GetLastErrorCode()
{
    return lastErrorCode ? lastErrorCode : "";
}

// A request that comes while shutting down is not queued; its user hears
// DB_ERR_SHUTDOWN_STATE once, when the shutdown completes.
bool PostgreSQLDatabase::Refuse(UDatabase* user, const char* operation)
{
    if (!shuttingDown && state != PG_CLOSED) return false;
    std::string text = std::string("Tried to call ") + operation + "() while database system is in shutdown state";
    SetLastError(text.c_str(), nullptr);
    if (log) log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::%s", logId[0], logId[1], text.c_str());
    if (!user) user = owner;
    if (user && std::find(informList.begin(), informList.end(), user) == informList.end()) {
        informList.push_back(user);
        if (state == PG_CLOSED) Schedule(PG_EXEC_INFORM);
    }
    return true;
}

void PostgreSQLDatabase::Connect(const char* address, const char* dbname, const char* user, const char* password)
{
    ASSERT(address, "PostgreSQLDatabase::Connect given server address is invalid (nullptr)");
    ASSERT(dbname, "PostgreSQLDatabase::Connect given dbname is invalid (nullptr)");
    ASSERT(user, "PostgreSQLDatabase::Connect given user is invalid (nullptr)");
    ASSERT(password, "PostgreSQLDatabase::Connect given password is invalid (nullptr)");
    if (Refuse(owner, "Connect")) return;
    ASSERT(state == PG_NOT_CONNECTED,
           "PostgreSQLDatabase::Connect called while connection is in progress or connection alrady established");

    std::string host(address), port;
    size_t colon = host.rfind(':');
    if (colon != std::string::npos) {
        port = host.substr(colon + 1);
        host.resize(colon);
    }
    // The encoding and the plan mode travel with the start-up packet: setting
    // them afterwards would need a blocking round trip. Prepared shapes take
    // their generic plan at once: the server would otherwise plan each
    // execution anew whenever it guesses the generic plan dearer, which for
    // the discussion list cost as much as running it. Compiling a statement
    // to machine code pays only for long analytic queries; for ours, whose
    // estimates can pass its threshold on a large history, it cost ten times
    // the statement (a search: 65 ms of compiling for 4 ms of work).
    // The application name shows the service's connections in the server's activity view.
    const char* keys[] = {"dbname", "user",    "password", "sslmode", "client_encoding", "options",
                          "application_name", "host", "port", nullptr};
    const char* values[] = {dbname, user, password, "disable", "UTF8", "-c plan_cache_mode=force_generic_plan -c jit=off",
                            "messages", host.c_str(), port.c_str(), nullptr};
    if (!*address) keys[7] = nullptr;
    else if (colon == std::string::npos) keys[8] = nullptr;

    if (log) log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::Connect %s db:%s user:%s", logId[0], logId[1], address, dbname, user);
    conn = PQconnectStartParams(keys, values, 0);
    SetState(PG_CONNECTING);
    if (!conn || PQstatus(conn) == CONNECTION_BAD || PQsocket(conn) < 0) {
        if (log)
            log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::Connect failed: %s", logId[0], logId[1],
                     conn ? PQerrorMessage(conn) : "out of memory");
        SetLastError(conn ? PQerrorMessage(conn) : "out of memory", nullptr);
        SetState(PG_NOT_CONNECTED);
        shuttingDown = true;
        reason = DB_ERR_CONNECT_FAILED;
        Schedule(PG_EXEC_SHUTDOWN);
        return;
    }
    WatchSocket(true);
}

bool PostgreSQLDatabase::Connected()
{
    return !shuttingDown && state >= PG_READY && state != PG_CLOSED;
}

void PostgreSQLDatabase::Shutdown()
{
    if (shuttingDown || state == PG_CLOSED) return;
    if (log) log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::Shutdown", logId[0], logId[1]);
    shuttingDown = true;
    reason = DB_OK;
    Schedule(PG_EXEC_SHUTDOWN);
}

size_t PostgreSQLDatabase::QueryPrint(char* buf, size_t size, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    size_t len = QueryPrintV(buf, size, format, ap);
    va_end(ap);
    return len;
}

size_t PostgreSQLDatabase::QueryPrintV(char* buf, size_t size, const char* format, va_list ap)
{
    return SqlPrintV(buf, size, format, ap, log, logId);
}

size_t PostgreSQLDatabase::EscapeSearchLiterals(const char* value, char* out, size_t size)
{
    return SqlEscapeSearchLiterals(value, out, size);
}

void PostgreSQLDatabase::ExecSQL(UDatabase* user, unsigned flags, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    ExecSQLV(user, flags, format, ap);
    va_end(ap);
}

void PostgreSQLDatabase::ExecSQLV(UDatabase* user, unsigned flags, const char* format, va_list ap)
{
    QueueFormatted(user, flags & DB_EXEC_FETCH_ALL, format, ap, "ExecSQLV");
}

void PostgreSQLDatabase::InsertSQL(UDatabase* user, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    InsertSQLV(user, format, ap);
    va_end(ap);
}

void PostgreSQLDatabase::InsertSQLV(UDatabase* user, const char* format, va_list ap)
{
    QueueFormatted(user, DB_EXEC_INSERT | DB_EXEC_FETCH_ALL, format, ap, "InsertSQLV");
}

void PostgreSQLDatabase::QueueFormatted(UDatabase* user, unsigned flags, const char* format, va_list ap,
                                        const char* operation)
{
    ASSERT(format, "PostgreSQLDatabase::ExecSQLV sqlcmd is nullptr");
    if (Refuse(user, operation)) return;
    if (!user) user = owner;
    size_t len = QueryPrintV(workBuffer, SQL_WORK_BUFFER, format, ap);
    if (flags & DB_EXEC_INSERT) {
        ASSERT(SQL_WORK_BUFFER - len >= 15,
               "PostgreSQLDatabase::ExecSQLV Buffer overflow while building SQL command - command length will be > 250 * 1024");
        memcpy(workBuffer + len, RETURNING_ID, sizeof(RETURNING_ID));
    }
    if (log && log->LogFlagSet(LOG_DATABASE))
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ExecSQLV user:%08x flags:%08x sqlCmd:%s", logId[0],
                 logId[1], (unsigned)(uintptr_t)user, flags, workBuffer);
    Queue(user, flags, workBuffer);
}

void PostgreSQLDatabase::BeginTransaction(UDatabase* user, const char* lockTableCmd)
{
    if (Refuse(user, "BeginTransaction")) return;
    if (!user) user = owner;
    Queue(user, DB_EXEC_LOCK_QUEUE, nullptr);
    if (lockTableCmd) {
        Queue(user, DB_EXEC_BEGIN | DB_EXEC_SILENT | DB_EXEC_FETCH_ALL, "BEGIN");
        Queue(user, DB_EXEC_LOCK_COMMAND | DB_EXEC_FETCH_ALL, lockTableCmd);
    }
    else {
        Queue(user, DB_EXEC_BEGIN | DB_EXEC_FETCH_ALL, "BEGIN");
    }
}

void PostgreSQLDatabase::EndTransaction(UDatabase* user, bool doRollback)
{
    if (Refuse(user, "EndTransaction")) return;
    if (!user) user = owner;
    Queue(user, DB_EXEC_END | DB_EXEC_FETCH_ALL, doRollback ? "ROLLBACK" : "COMMIT");
    Queue(user, DB_EXEC_UNLOCK_QUEUE, nullptr);
}

void PostgreSQLDatabase::PrepareStatement(UDatabase* user, const char* format)
{
    ASSERT(format, "PostgreSQLDatabase::PrepareStatment sqlcmd is empty");
    while (*format == ' ' || *format == '\t' || *format == '\r' || *format == '\n') format++;
    ASSERT(*format, "PostgreSQLDatabase::PrepareStatment sqlcmd is empty");
    if (Refuse(user, "PrepareStatement")) return;
    if (!user) user = owner;
    char name[32];
    snprintf(name, sizeof(name), "_STMT-%u", statementCounter++);
    std::string text;
    std::vector<unsigned char> types;
    SqlPrepareFormat(format, text, types);
    PSQLPreparedStatement* statement =
        new PSQLPreparedStatement(this, name, text, types, bytesParams == DB_BYTES_PARAMS_BINARY);
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::PrepareStatement user:%08x %s:%s", logId[0], logId[1],
                 (unsigned)(uintptr_t)user, name, text.c_str());
    Queue(user, DB_EXEC_PREPARE | DB_EXEC_FETCH_ALL, text.c_str(), statement);
}

void PostgreSQLDatabase::ExecSQL(UDatabase* user, unsigned flags, IPreparedStatement* statement)
{
    PSQLPreparedStatement* s = dynamic_cast<PSQLPreparedStatement*>(statement);
    ASSERT(s && s->GetUser() == this, "PostgreSQLDatabase::ExecSQL statement is null after dynamic_cast<>");
    if (Refuse(user, "ExecSQL")) return;
    if (!user) user = owner;
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ExecSQL user:%08x statement:%s", logId[0], logId[1],
                 (unsigned)(uintptr_t)user, s->GetName());
    Queue(user, flags & DB_EXEC_FETCH_ALL, nullptr, s->CreateExecution());
}

void PostgreSQLDatabase::InsertSQL(UDatabase* user, IPreparedStatement* statement)
{
    PSQLPreparedStatement* s = dynamic_cast<PSQLPreparedStatement*>(statement);
    ASSERT(s && s->GetUser() == this, "PostgreSQLDatabase::ExecSQL statement is null after dynamic_cast<>");
    if (Refuse(user, "InsertSQL")) return;
    if (!user) user = owner;
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::InsertSQL user:%08x statement:%s", logId[0], logId[1],
                 (unsigned)(uintptr_t)user, s->GetName());
    Queue(user, DB_EXEC_INSERT | DB_EXEC_FETCH_ALL, nullptr, s->CreateExecution());
}

void PostgreSQLDatabase::ExecSQLParams(UDatabase* user, unsigned flags, const char* shape, const SqlParams& params)
{
    if (Refuse(user, "ExecSQLParams")) return;
    if (!user) user = owner;
    flags &= DB_EXEC_FETCH_ALL;
    bool logged = log && log->LogFlagSet(LOG_DATABASE);
    if (PSQLPreparedStatement* s = shapes.Find(shape)) {
        params.Apply(s);
        if (logged)
            log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ExecSQLParams user:%08x flags:%08x statement:%s sqlCmd:%s",
                     logId[0], logId[1], (unsigned)(uintptr_t)user, flags, s->GetName(), params.Render(shape).c_str());
        Queue(user, flags, nullptr, s->CreateExecution());
        return;
    }
    std::string text = params.Render(shape);
    if (logged)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ExecSQLParams user:%08x flags:%08x sqlCmd:%s", logId[0],
                 logId[1], (unsigned)(uintptr_t)user, flags, text.c_str());
    Queue(user, flags, text.c_str());
    // The shape is prepared behind its first run. A prepared statement's
    // text is bounded; its "$N" take at most four characters more than "%s".
    char name[32];
    snprintf(name, sizeof(name), "_STMT-%u", statementCounter);
    if (strlen(shape) + 4 * params.Count() >= SQL_PREPARE_BUFFER || !shapes.Claim(shape, name)) return;
    statementCounter++;
    std::string prepared;
    std::vector<unsigned char> types;
    SqlPrepareFormat(shape, prepared, types);
    auto* statement = new PSQLPreparedStatement(this, name, prepared, types, bytesParams == DB_BYTES_PARAMS_BINARY);
    Queue(&shapes, DB_EXEC_PREPARE | DB_EXEC_FETCH_ALL, prepared.c_str(), statement);
}

void PostgreSQLDatabase::ReleaseStatement(PSQLPreparedStatement* statement)
{
    bool live = statement->getList() == &statements;
    statements.remove(statement);
    // The server keeps a statement until the session ends; a long-lived
    // connection gives it back when its owner is done with it.
    if (live && !shuttingDown && state != PG_CLOSED && state != PG_NOT_CONNECTED) {
        std::string sql = std::string("DEALLOCATE \"") + statement->GetName() + "\"";
        Queue(nullptr, DB_EXEC_SILENT | DB_EXEC_FETCH_ALL, sql.c_str());
    }
}
