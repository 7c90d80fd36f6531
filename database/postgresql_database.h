#pragma once

#include <libpq-fe.h>

#include <vector>

#include "database/database.h"
#include "database/postgresql_command.h"
#include "database/postgresql_data_set.h"
#include "database/psql_prepared_statement.h"
#include "database/psql_shapes.h"
#include "runtime/iomux.h"
#include "runtime/istd_list.h"

class IInstanceLog;

// Connection states. Only SetState changes them.
enum pg_state_t {
    PG_NOT_CONNECTED = 0,
    PG_CONNECTING = 1,
    PG_READY = 2,             // connected; a non-empty queue means the head is about to be sent
    PG_WAIT_RESULT = 3,       // command sent, the whole result is being read
    PG_SINGLE_ROW_SENT = 4,   // single-row command sent, first row not yet read
    PG_SINGLE_ROW = 5,        // single-row mode: the user holds the current row
    PG_READY_LOCKED = 6,      // the queue lock's owner has nothing queued; the others wait
    PG_SINGLE_ROW_FETCH = 7,  // single-row mode: the next row is being read
    PG_DRAINING = 8,          // the rest of the command's results is read and dropped
    PG_CLOSED = 9,            // shut down; every request is refused
};

const char* PgStateName(pg_state_t state);

// The PostgreSQL driver: one libpq connection on the event loop, a FIFO of
// commands with a queue lock for transactions, results delivered as data sets.
class PostgreSQLDatabase : public IDatabase,
                           public UIoContext,
                           public UIoExec,
                           public UPostgreSQLDataSet,
                           public UPSQLPreparedStatement {
public:
    PostgreSQLDatabase(IIoMux* iomux, UDatabase* owner, IInstanceLog* log,
                       db_bytes_params_t bytesParams = DB_BYTES_PARAMS_TEXT);
    ~PostgreSQLDatabase() override;

    void Connect(const char* address, const char* dbname, const char* user, const char* password) override;
    bool Connected() override;
    void Shutdown() override;
    size_t QueryPrint(char* buf, size_t size, const char* format, ...) override;
    size_t QueryPrintV(char* buf, size_t size, const char* format, va_list ap) override;
    void ExecSQL(UDatabase* user, unsigned flags, const char* format, ...) override;
    void ExecSQLV(UDatabase* user, unsigned flags, const char* format, va_list ap) override;
    void InsertSQL(UDatabase* user, const char* format, ...) override;
    void InsertSQLV(UDatabase* user, const char* format, va_list ap) override;
    void BeginTransaction(UDatabase* user, const char* lockTableCmd = nullptr) override;
    void EndTransaction(UDatabase* user, bool doRollback = false) override;
    void PrepareStatement(UDatabase* user, const char* format) override;
    void ExecSQL(UDatabase* user, unsigned flags, IPreparedStatement* statement) override;
    void InsertSQL(UDatabase* user, IPreparedStatement* statement) override;
    void ExecSQLParams(UDatabase* user, unsigned flags, const char* shape, const SqlParams& params) override;
    size_t EscapeSearchLiterals(const char* value, char* out, size_t size) override;
    const char* GetLastErrorMessage() override;
    const char* GetLastErrorCode() override;

    pg_state_t GetState() const { return state; }

private:
    // Deferred-call kinds.
    enum pg_exec_t { PG_EXEC_SEND = 1, PG_EXEC_READ, PG_EXEC_SHUTDOWN, PG_EXEC_INFORM };

    void IoContextNotify(bool in, bool out) override;
    void IoExec(void* param) override;
    void RequestNextRow(PostgreSQLDataSet* dataSet) override;
    void DatasetDeleted(PostgreSQLDataSet* dataSet) override;
    void ReleaseStatement(PSQLPreparedStatement* statement) override;

    // postgresql_database.cpp: requests
    bool Refuse(UDatabase* user, const char* operation);
    void Queue(UDatabase* user, unsigned flags, const char* sql, PSQLPreparedStatement* statement = nullptr);
    void QueueFormatted(UDatabase* user, unsigned flags, const char* format, va_list ap, const char* operation);
    void Schedule(pg_exec_t what);
    void SetState(pg_state_t next);
    void SetLastError(const char* message, const char* code);

    // postgresql_database_queue.cpp: running the queue
    void StartHead();
    void SendHead();
    void Advance();
    void Continue();
    void CommandDone();
    void CommandFailed();
    void ServerFailed(const char* message);
    void FailQueue(db_error_t error);
    void ShutdownStep();
    void CompleteShutdown();
    void InformRefused();

    // postgresql_database_read.cpp: the connection and its results
    void ConnectStep();
    void WatchSocket(bool rearm);
    bool SocketHasInput();
    bool ConsumeInput();
    bool ExamineResult(PGresult* result);
    void ReadWholeResult();
    void ReadRowStep();
    void DrainStep();
    bool DrainBuffered();
    void CheckIdleConnection();
    void DeliverRow();

    IIoMux* iomux;
    UDatabase* owner;
    IInstanceLog* log;
    db_bytes_params_t bytesParams;
    unsigned logId[2];
    PGconn* conn = nullptr;
    pg_state_t state = PG_NOT_CONNECTED;
    UDatabase* lockOwner = nullptr;
    bool inTransaction = false;
    bool shuttingDown = false;
    db_error_t reason = DB_OK;
    char* lastErrorMessage = nullptr;
    char* lastErrorCode = nullptr;
    PostgreSQLCommandQueue queue;
    // The running single-row command's data set: with the user in
    // PG_SINGLE_ROW, with the driver while the next row is read.
    PostgreSQLDataSet* dataSet = nullptr;
    // The first result of the running command and how it ended so far.
    PGresult* firstResult = nullptr;
    bool commandFailed = false;
    bool serverFailed = false;
    std::vector<UDatabase*> informList;
    istd::list statements;
    unsigned statementCounter = 0;
    PSQLShapes shapes;
    unsigned scheduledCalls = 0;
    char* workBuffer;
};
