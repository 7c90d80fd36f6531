// The command queue of PostgreSQLDatabase: ordering, the queue lock, command
// outcomes and the shutdown.
#include <stdint.h>
#include <stdlib.h>

#include "database/postgresql_database.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

void PostgreSQLDatabase::Queue(UDatabase* user, unsigned flags, const char* sql, PSQLPreparedStatement* statement)
{
    PostgreSQLCommand* cmd = new PostgreSQLCommand(user, flags, sql);
    cmd->statement = statement;
    // The lock owner's commands overtake the waiting ones, so its
    // transaction can finish.
    if (state == PG_READY_LOCKED && user && user == lockOwner) {
        queue.PushFront(cmd);
        StartHead();
        return;
    }
    bool wasEmpty = queue.Empty();
    queue.PushBack(cmd);
    if (wasEmpty && state == PG_READY && (!lockOwner || lockOwner == user)) StartHead();
}

void PostgreSQLDatabase::StartHead()
{
    SetState(PG_READY);
    Schedule(PG_EXEC_SEND);
}

void PostgreSQLDatabase::SendHead()
{
    // A failure may have emptied the queue since the send was scheduled.
    if (state != PG_READY || queue.Empty()) return;
    PostgreSQLCommand* cmd = queue.Head();
    if (cmd->flags & DB_EXEC_LOCK_QUEUE) {
        lockOwner = cmd->user;
        Advance();
        return;
    }
    if (cmd->flags & DB_EXEC_UNLOCK_QUEUE) {
        if (!lockOwner && log)
            log->Log(LOG_DATABASE,
                     "PostgreSQLDatabase(%08x,%08x)::HandleTopStackItem WARNING: found UnlockQueue command without previous IDatabase::LockQueue() call",
                     logId[0], logId[1]);
        lockOwner = nullptr;
        Advance();
        return;
    }
    int sent;
    PSQLPreparedStatement* s = cmd->statement;
    if (cmd->flags & DB_EXEC_PREPARE) {
        sent = PQsendPrepare(conn, s->GetName(), cmd->sql, s->GetParamCount(), s->GetParamTypes());
    }
    else if (s) {
        s->FillParamArrays();
        sent = PQsendQueryPrepared(conn, s->GetName(), s->GetParamCount(), s->GetValues(), s->GetLengths(),
                                   s->GetFormats(), 0);
    }
    else {
        sent = PQsendQuery(conn, cmd->sql);
    }
    if (!sent) {
        ServerFailed(PQerrorMessage(conn));
        return;
    }
    commandFailed = serverFailed = false;
    if (cmd->flags & DB_EXEC_FETCH_ALL) {
        SetState(PG_WAIT_RESULT);
    }
    else {
        // Single-row mode lets a large result stream without holding it in memory.
        PQsetSingleRowMode(conn);
        SetState(PG_SINGLE_ROW_SENT);
    }
    if (PQflush(conn) < 0) ServerFailed(PQerrorMessage(conn));
}

void PostgreSQLDatabase::Advance()
{
    PostgreSQLCommand* done = queue.Head();
    queue.Unlink(done);
    delete done;
    Continue();
}

// Picks the next command to run after the head has gone.
void PostgreSQLDatabase::Continue()
{
    if (!queue.Empty() && lockOwner && queue.Head()->user != lockOwner) {
        PostgreSQLCommand* mine = queue.FirstOf(lockOwner);
        if (mine) {
            queue.Unlink(mine);
            queue.PushFront(mine);
        }
    }
    if (!queue.Empty() && (!lockOwner || queue.Head()->user == lockOwner)) {
        StartHead();
        return;
    }
    SetState(lockOwner ? PG_READY_LOCKED : PG_READY);
    // Events that came while a result was with its user were not read;
    // a lost connection shows up here rather than at the next command.
    Schedule(shuttingDown ? PG_EXEC_SHUTDOWN : PG_EXEC_READ);
}

void PostgreSQLDatabase::CommandDone()
{
    PostgreSQLCommand* cmd = queue.Head();
    UDatabase* user = cmd->user;
    unsigned flags = cmd->flags;
    PGresult* result = firstResult;
    firstResult = nullptr;
    if (flags & DB_EXEC_BEGIN) inTransaction = true;
    if (flags & DB_EXEC_END) inTransaction = false;

    const unsigned special = DB_EXEC_BEGIN | DB_EXEC_END | DB_EXEC_LOCK_COMMAND | DB_EXEC_PREPARE | DB_EXEC_INSERT | DB_EXEC_SILENT;
    if (state == PG_WAIT_RESULT && !(flags & special) && user) {
        // A whole result is the user's alone: the connection goes on with
        // the next command while the user reads it, which takes a loop pass
        // a row when the rows go out to a client one by one.
        IDataSet* whole = result ? new PostgreSQLDataSet(nullptr, result, false) : nullptr;
        Advance();
        user->DatabaseExecSQLResult(this, whole);
        return;
    }

    PSQLPreparedStatement* prepared = nullptr;
    if (flags & DB_EXEC_PREPARE) {
        prepared = cmd->statement;
        cmd->statement = nullptr;
        statements.push_back(prepared);
    }
    unsigned long long id = 0;
    if ((flags & DB_EXEC_INSERT) && result && PQntuples(result) > 0 && PQnfields(result) > 0)
        id = strtoull(PQgetvalue(result, 0, 0), nullptr, 0);
    if (result) PQclear(result);
    Advance();

    if (!user || (flags & DB_EXEC_SILENT)) {
        delete prepared;
        return;
    }
    if (flags & DB_EXEC_PREPARE) user->DatabasePrepareStatementResult(this, prepared);
    else if (flags & DB_EXEC_INSERT) user->DatabaseInsertSQLResult(this, id);
    else if (flags & (DB_EXEC_BEGIN | DB_EXEC_LOCK_COMMAND)) user->DatabaseBeginTransactionResult(this);
    else if (flags & DB_EXEC_END) user->DatabaseEndTransactionResult(this);
}

// A command error: the failing user's other commands go, and a transaction
// it held is rolled back and its lock released before anything else runs.
void PostgreSQLDatabase::CommandFailed()
{
    PostgreSQLCommand* cmd = queue.Head();
    UDatabase* user = cmd->user;
    // A failed COMMIT has ended the transaction all the same.
    if (cmd->flags & DB_EXEC_END) inTransaction = false;
    if (firstResult) PQclear(firstResult);
    firstResult = nullptr;
    queue.Unlink(cmd);
    delete cmd;
    if (user) queue.DropUser(user);
    bool rollback = lockOwner && inTransaction;
    if (lockOwner) queue.PushFront(new PostgreSQLCommand(lockOwner, DB_EXEC_UNLOCK_QUEUE, nullptr));
    if (rollback) queue.PushFront(new PostgreSQLCommand(nullptr, DB_EXEC_END | DB_EXEC_SILENT, "ROLLBACK"));
    // The ROLLBACK has no user, so the lock must not reorder it behind the unlock.
    if (rollback) StartHead();
    else Continue();
    if (user) user->DatabaseError(this, DB_ERR_SQL_COMMAND_FAILED);
}

// The connection is unusable: every waiting user hears of it and the driver
// shuts down.
void PostgreSQLDatabase::ServerFailed(const char* message)
{
    if (state == PG_NOT_CONNECTED || state == PG_CLOSED) return;
    if (message && *message) SetLastError(message, lastErrorCode);
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::ServerFailed %s", logId[0], logId[1],
                 lastErrorMessage ? lastErrorMessage : "");
    reason = DB_ERR_SERVER_ERROR;
    shuttingDown = true;
    if (dataSet) {
        dataSet->Detach();
        // A data set waiting for its next row is with the driver, not the user.
        if (state == PG_SINGLE_ROW_FETCH) delete dataSet;
        dataSet = nullptr;
    }
    if (firstResult) PQclear(firstResult);
    firstResult = nullptr;
    if (registered) iomux->FDRem(this);
    lockOwner = nullptr;
    inTransaction = false;
    SetState(PG_NOT_CONNECTED);
    Schedule(PG_EXEC_SHUTDOWN);
    FailQueue(DB_ERR_SERVER_ERROR);
}

void PostgreSQLDatabase::FailQueue(db_error_t error)
{
    while (!queue.Empty()) {
        UDatabase* user = queue.Head()->user;
        queue.DropUser(user);
        if (user) user->DatabaseError(this, error);
    }
}

void PostgreSQLDatabase::ShutdownStep()
{
    if (state == PG_CLOSED) return;
    if (state == PG_NOT_CONNECTED || state == PG_CONNECTING) {
        // Without a connection the queued commands can never run.
        FailQueue(reason == DB_ERR_CONNECT_FAILED ? DB_ERR_CONNECT_FAILED : DB_ERR_SHUTDOWN_STATE);
    }
    else if (state == PG_READY_LOCKED) {
        // The lock owner can queue nothing more, so its transaction would
        // never end: roll it back and let the others finish.
        lockOwner = nullptr;
        if (inTransaction) queue.PushFront(new PostgreSQLCommand(nullptr, DB_EXEC_END | DB_EXEC_SILENT | DB_EXEC_FETCH_ALL, "ROLLBACK"));
        Continue();
        return;
    }
    if (!queue.Empty() || scheduledCalls) return;
    if (state != PG_NOT_CONNECTED && state != PG_CONNECTING && state != PG_READY) return;
    CompleteShutdown();
}

void PostgreSQLDatabase::CompleteShutdown()
{
    if (registered) iomux->FDRem(this);
    if (conn) PQfinish(conn);
    conn = nullptr;
    SetState(PG_CLOSED);
    InformRefused();
    if (log)
        log->Log(LOG_DATABASE, "PostgreSQLDatabase(%08x,%08x)::DatabaseShutdown reason: %s", logId[0], logId[1],
                 DbErrorName(reason));
    // Last: the owner may delete the database here.
    if (owner) owner->DatabaseShutdown(this, reason);
}

void PostgreSQLDatabase::InformRefused()
{
    std::vector<UDatabase*> users;
    users.swap(informList);
    for (UDatabase* user : users) user->DatabaseError(this, DB_ERR_SHUTDOWN_STATE);
}

void PostgreSQLDatabase::IoExec(void* param)
{
    scheduledCalls--;
    switch ((pg_exec_t)(uintptr_t)param) {
    case PG_EXEC_SEND: SendHead(); break;
    case PG_EXEC_READ:
        if (state == PG_WAIT_RESULT) ReadWholeResult();
        else if (state == PG_SINGLE_ROW_FETCH || state == PG_SINGLE_ROW_SENT) ReadRowStep();
        else if (state == PG_DRAINING) DrainStep();
        else if (state == PG_READY || state == PG_READY_LOCKED) CheckIdleConnection();
        break;
    case PG_EXEC_SHUTDOWN:
        ShutdownStep();  // may have deleted the database
        return;
    case PG_EXEC_INFORM: InformRefused(); break;
    }
    if (shuttingDown && state != PG_CLOSED && !scheduledCalls) Schedule(PG_EXEC_SHUTDOWN);
}
