#pragma once

#include <stdarg.h>
#include <stddef.h>

#include "database/data_set.h"
#include "database/db_error.h"
#include "database/prepared_statement.h"

class IDatabase;
class IIoMux;
class SqlParams;
class IInstanceLog;

// The whole result is read before it is delivered; without it a command runs
// in single-row mode.
#define DB_EXEC_FETCH_ALL 0x1u

// Callbacks of a database user, always on the loop thread and never from
// inside the request that caused them. Every request ends in exactly one
// result callback or in DatabaseError. Inside a callback the user may queue
// further requests and delete the data sets and statements it owns; only the
// owner may delete the database, and only after DatabaseShutdown.
class UDatabase {
public:
    virtual ~UDatabase() {}
    // Owner only: the connection is up; commands queued before now start.
    virtual void DatabaseConnectComplete(IDatabase*) {}
    // Owner only: the database has shut down and may be deleted.
    virtual void DatabaseShutdown(IDatabase*, db_error_t) {}
    // A request failed. For DB_ERR_SQL_COMMAND_FAILED the user's other
    // queued commands were dropped and an open transaction rolled back.
    virtual void DatabaseError(IDatabase* db, db_error_t error) = 0;
    // A result of ExecSQL; the user deletes the data set (may be null). A
    // whole result (DB_EXEC_FETCH_ALL) no longer needs the connection, which
    // runs the next command meanwhile; a single-row result holds it until
    // the data set is deleted or read to its end.
    virtual void DatabaseExecSQLResult(IDatabase*, IDataSet*) {}
    virtual void DatabaseInsertSQLResult(IDatabase*, unsigned long long) {}
    virtual void DatabaseBeginTransactionResult(IDatabase*) {}
    virtual void DatabaseEndTransactionResult(IDatabase*) {}
    // The statement belongs to the user from now on.
    virtual void DatabasePrepareStatementResult(IDatabase*, IPreparedStatement*) {}
};

// An asynchronous database connection with a FIFO command queue. A null user
// stands for the owner given at creation.
class IDatabase {
public:
    virtual ~IDatabase() {}
    virtual void Connect(const char* address, const char* dbname, const char* user, const char* password) = 0;
    virtual bool Connected() = 0;
    virtual void Shutdown() = 0;
    virtual size_t QueryPrint(char* buf, size_t size, const char* format, ...) = 0;
    virtual size_t QueryPrintV(char* buf, size_t size, const char* format, va_list ap) = 0;
    virtual void ExecSQL(UDatabase* user, unsigned flags, const char* format, ...) = 0;
    virtual void ExecSQLV(UDatabase* user, unsigned flags, const char* format, va_list ap) = 0;
    virtual void InsertSQL(UDatabase* user, const char* format, ...) = 0;
    virtual void InsertSQLV(UDatabase* user, const char* format, va_list ap) = 0;
    // Takes the queue lock for the user: other users' commands wait until
    // EndTransaction has run.
    virtual void BeginTransaction(UDatabase* user, const char* lockTableCmd = nullptr) = 0;
    virtual void EndTransaction(UDatabase* user, bool doRollback = false) = 0;
    virtual void PrepareStatement(UDatabase* user, const char* format) = 0;
    virtual void ExecSQL(UDatabase* user, unsigned flags, IPreparedStatement* statement) = 0;
    virtual void InsertSQL(UDatabase* user, IPreparedStatement* statement) = 0;
    // Runs a statement given as its shape (a format that kept its value
    // directives, see SqlText) and its values. A connection prepares a shape
    // that it has run twice as text, and runs it prepared from then on: the
    // server plans it once instead of every time.
    virtual void ExecSQLParams(UDatabase* user, unsigned flags, const char* shape, const SqlParams& params) = 0;
    virtual size_t EscapeSearchLiterals(const char* value, char* out, size_t size) = 0;
    virtual const char* GetLastErrorMessage() = 0;
    virtual const char* GetLastErrorCode() = 0;
};

class IDatabaseProvider {
public:
    virtual ~IDatabaseProvider() {}
    virtual IDatabase* CreateDatabase(IIoMux* iomux, UDatabase* owner, IInstanceLog* log) = 0;
};

// How byte-string parameters (%du) of prepared statements travel. Text is
// "\x" and hex digits, left to the server to type. Binary declares them as
// bytea and sends the bytes as they are: half the bytes on the socket and no
// hex on either side. The server stores the same value either way; the two
// differ only for a %du that the server would have typed as other than bytea.
enum db_bytes_params_t {
    DB_BYTES_PARAMS_TEXT = 0,
    DB_BYTES_PARAMS_BINARY = 1,
};

IDatabaseProvider* CreatePostgreSQLDatabaseProvider(db_bytes_params_t bytesParams = DB_BYTES_PARAMS_TEXT);
