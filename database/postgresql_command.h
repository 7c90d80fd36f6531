#pragma once

class UDatabase;
class PSQLPreparedStatement;

// Command flags the driver sets itself; the application passes only
// DB_EXEC_FETCH_ALL.
#define DB_EXEC_INSERT 0x800000u          // " RETURNING id" appended, the id delivered
#define DB_EXEC_BEGIN 0x1000000u          // "BEGIN": the connection enters a transaction
#define DB_EXEC_END 0x2000000u            // "COMMIT" or "ROLLBACK"
#define DB_EXEC_LOCK_QUEUE 0x4000000u     // marker: the user takes the queue lock
#define DB_EXEC_UNLOCK_QUEUE 0x8000000u   // marker: the user gives the queue lock back
#define DB_EXEC_SILENT 0x10000000u        // no result callback
#define DB_EXEC_PREPARE 0x20000000u       // prepare a statement
#define DB_EXEC_LOCK_COMMAND 0x40000000u  // the lock command that follows a "BEGIN"

// One queued request. Markers carry no SQL. `statement` is the execution
// record of a prepared statement, or for a prepare the statement to hand out.
class PostgreSQLCommand {
public:
    PostgreSQLCommand(UDatabase* user, unsigned flags, const char* sql);
    ~PostgreSQLCommand();

    UDatabase* user;
    unsigned flags;
    char* sql;
    PSQLPreparedStatement* statement = nullptr;
    PostgreSQLCommand* prev = nullptr;
    PostgreSQLCommand* next = nullptr;
};

// The FIFO of commands; owns them.
class PostgreSQLCommandQueue {
public:
    ~PostgreSQLCommandQueue();
    PostgreSQLCommand* Head() const { return head; }
    bool Empty() const { return !head; }
    void PushBack(PostgreSQLCommand* cmd);
    void PushFront(PostgreSQLCommand* cmd);
    // Unlinks without deleting.
    void Unlink(PostgreSQLCommand* cmd);
    PostgreSQLCommand* FirstOf(UDatabase* user) const;
    // Deletes every command of the user.
    void DropUser(UDatabase* user);

private:
    PostgreSQLCommand* head = nullptr;
    PostgreSQLCommand* tail = nullptr;
};
