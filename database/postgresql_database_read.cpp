// The connection side of PostgreSQLDatabase: connecting, reading results in
// whole-result and single-row mode, and noticing a lost server.
#include <errno.h>
#include <string.h>
#include <sys/socket.h>

#include "database/postgresql_database.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

static bool IsServerErrorClass(const char* sqlstate)
{
    static const char* classes[] = {"08", "0Z", "21", "27", "28", "2B", "53", "54", "57", "58", "F0", "HV", "P0", "XX"};
    for (const char* c : classes)
        if (!strncmp(sqlstate, c, 2)) return true;
    return false;
}

static void NoticeToLog(void* arg, const char* message)
{
    IInstanceLog* log = static_cast<IInstanceLog*>(arg);
    if (log) log->Log(LOG_DATABASE, "PostgreSQLDatabase::Notice %s", message);
}

void PostgreSQLDatabase::IoContextNotify(bool, bool)
{
    switch (state) {
    case PG_CONNECTING: ConnectStep(); break;
    case PG_READY:
    case PG_READY_LOCKED: CheckIdleConnection(); break;
    case PG_WAIT_RESULT: ReadWholeResult(); break;
    case PG_SINGLE_ROW_SENT:
    case PG_SINGLE_ROW_FETCH: ReadRowStep(); break;
    case PG_DRAINING: DrainStep(); break;
    default:
        // A result is with its user; reading resumes when the user acts.
        break;
    }
}

// libpq may move to another socket while it tries the addresses of a host,
// and a connect in progress needs a fresh registration to report writability.
void PostgreSQLDatabase::WatchSocket(bool rearm)
{
    int sock = PQsocket(conn);
    if (registered && (rearm || sock != fd)) iomux->FDRem(this);
    if (!registered && sock >= 0) iomux->FDAdd(sock, this, true);
}

void PostgreSQLDatabase::ConnectStep()
{
    PostgresPollingStatusType polling = PQconnectPoll(conn);
    while (polling == PGRES_POLLING_WRITING && PQstatus(conn) == CONNECTION_MADE) polling = PQconnectPoll(conn);
    switch (polling) {
    case PGRES_POLLING_WRITING: WatchSocket(PQstatus(conn) == CONNECTION_STARTED); return;
    case PGRES_POLLING_READING: WatchSocket(false); return;
    case PGRES_POLLING_OK: break;
    default: {
        SetLastError(PQerrorMessage(conn), nullptr);
        if (log)
            log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ConnectDBStep failed: %s", logId[0], logId[1],
                     lastErrorMessage);
        if (registered) iomux->FDRem(this);
        SetState(PG_NOT_CONNECTED);
        if (!shuttingDown) reason = DB_ERR_CONNECT_FAILED;
        shuttingDown = true;
        Schedule(PG_EXEC_SHUTDOWN);
        return;
    }
    }
    WatchSocket(false);
    PQsetnonblocking(conn, 1);
    PQsetNoticeProcessor(conn, NoticeToLog, log);
    if (strcmp(pg_encoding_to_char(PQclientEncoding(conn)), "UTF8")) {
        if (log)
            log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ConnectDBStep failed to set client encoding",
                     logId[0], logId[1]);
        SetLastError("failed to set client encoding", nullptr);
        if (registered) iomux->FDRem(this);
        SetState(PG_NOT_CONNECTED);
        if (!shuttingDown) reason = DB_ERR_CONNECT_FAILED;
        shuttingDown = true;
        Schedule(PG_EXEC_SHUTDOWN);
        return;
    }
    if (log) log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ConnectDBStep connected", logId[0], logId[1]);
    SetState(PG_READY);
    if (!queue.Empty()) StartHead();
    else if (shuttingDown) Schedule(PG_EXEC_SHUTDOWN);
    if (!shuttingDown && owner) owner->DatabaseConnectComplete(this);
}

// Descriptors are edge-triggered and libpq reads only part of what may be
// there, so a non-blocking peek tells whether another read is due.
bool PostgreSQLDatabase::SocketHasInput()
{
    char c;
    ssize_t n = recv(PQsocket(conn), &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n >= 0) return true;  // data, or the end of the stream that a read will report
    return errno != EAGAIN && errno != EWOULDBLOCK;
}

bool PostgreSQLDatabase::ConsumeInput()
{
    if (PQflush(conn) < 0 || !PQconsumeInput(conn) || PQstatus(conn) == CONNECTION_BAD) {
        ServerFailed(PQerrorMessage(conn));
        return false;
    }
    return true;
}

// The failure test after every result. Errors that libpq makes up itself
// (a lost connection) carry no SQLSTATE and count as server errors.
bool PostgreSQLDatabase::ExamineResult(PGresult* result)
{
    const char* code = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    ExecStatusType status = PQresultStatus(result);
    if (!code && status != PGRES_FATAL_ERROR && status != PGRES_BAD_RESPONSE) return false;
    SetLastError(PQresultErrorMessage(result), code);
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::LastCommandFailed (%s):%s", logId[0], logId[1],
                 lastErrorCode, lastErrorMessage);
    if (!code || IsServerErrorClass(code)) serverFailed = true;
    else commandFailed = true;
    return true;
}

void PostgreSQLDatabase::CheckIdleConnection()
{
    for (int round = 0; round < 16; round++) {
        if (!ConsumeInput()) return;
        while (PGnotify* notify = PQnotifies(conn)) PQfreemem(notify);
        if (!SocketHasInput()) return;
    }
    Schedule(PG_EXEC_READ);
}

void PostgreSQLDatabase::ReadWholeResult()
{
    if (!ConsumeInput()) return;
    for (;;) {
        if (PQisBusy(conn)) {
            if (SocketHasInput()) Schedule(PG_EXEC_READ);
            return;
        }
        PGresult* result = PQgetResult(conn);
        if (!result) break;
        ExamineResult(result);
        // Further results of a multi-command text are only checked for failure.
        if (!firstResult && !commandFailed && !serverFailed) firstResult = result;
        else PQclear(result);
        if (serverFailed) break;
    }
    if (serverFailed || PQstatus(conn) == CONNECTION_BAD) ServerFailed(nullptr);
    else if (commandFailed) CommandFailed();
    else CommandDone();
}

void PostgreSQLDatabase::ReadRowStep()
{
    // Reads only when libpq holds no whole row: every read first moves all
    // the unparsed input to the buffer's front, and with a large result
    // buffered a read per row costs the result's size each time.
    if (PQisBusy(conn)) {
        if (!ConsumeInput()) return;
        if (PQisBusy(conn)) {
            if (SocketHasInput()) Schedule(PG_EXEC_READ);
            return;
        }
    }
    PostgreSQLCommand* cmd = queue.Head();
    PGresult* result = PQgetResult(conn);
    bool failed = result && ExamineResult(result);
    if (failed || !cmd->user || (cmd->flags & DB_EXEC_SILENT)) {
        // Nothing goes to the user but the outcome: the rest is read and dropped.
        if (result) PQclear(result);
        if (dataSet) {
            dataSet->Detach();
            delete dataSet;
            dataSet = nullptr;
        }
        SetState(PG_DRAINING);
        DrainStep();
        return;
    }
    if (!dataSet) dataSet = new PostgreSQLDataSet(this, nullptr, true);
    dataSet->SetResult(result);
    SetState(PG_SINGLE_ROW);
    cmd->user->DatabaseExecSQLResult(this, dataSet);
}

void PostgreSQLDatabase::DrainStep()
{
    if (!ConsumeInput()) return;
    for (;;) {
        if (PQisBusy(conn)) {
            if (SocketHasInput()) Schedule(PG_EXEC_READ);
            return;
        }
        PGresult* result = PQgetResult(conn);
        if (!result) break;
        ExamineResult(result);
        PQclear(result);
        if (serverFailed) break;
    }
    if (serverFailed || PQstatus(conn) == CONNECTION_BAD) ServerFailed(nullptr);
    else if (commandFailed) CommandFailed();
    else CommandDone();
}

// Drops the results that libpq holds already; true when the command has
// ended without failure.
bool PostgreSQLDatabase::DrainBuffered()
{
    while (!PQisBusy(conn)) {
        PGresult* result = PQgetResult(conn);
        if (!result) return !commandFailed && !serverFailed;
        ExamineResult(result);
        PQclear(result);
    }
    return false;
}

void PostgreSQLDatabase::RequestNextRow(PostgreSQLDataSet* set)
{
    if (set != dataSet || state != PG_SINGLE_ROW) return;
    SetState(PG_SINGLE_ROW_FETCH);
    Schedule(PG_EXEC_READ);
}

void PostgreSQLDatabase::DatasetDeleted(PostgreSQLDataSet* set)
{
    if (set != dataSet) return;
    dataSet = nullptr;
    if (state == PG_SINGLE_ROW || state == PG_SINGLE_ROW_FETCH) {
        SetState(PG_DRAINING);
        // Usually the end of the command came with its last row: finishing it
        // here saves a loop pass per command. Anything else, failures
        // included, is left to a later pass, so no callback runs inside the
        // user's delete.
        if (DrainBuffered()) Advance();
        else Schedule(PG_EXEC_READ);
    }
}
