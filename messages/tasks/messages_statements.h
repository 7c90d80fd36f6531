#pragma once

#include <stdarg.h>

#include <string>
#include <vector>

#include "database/database.h"
#include "runtime/task.h"

// The statements that every post and every block of an upload buffer runs,
// prepared once on each new connection so that the server plans them once:
// prepared, a message insert takes about a third less time than as text, and
// a block of bytes can travel as it is instead of as a hex literal. A statement that could not be prepared,
// or is run before its preparation, runs as text; the outcome is the same.
class MessagesStatements : public ITask, public UDatabase {
public:
    enum Statement {
        SELECT_REPLIED_DISCUSSION,
        SELECT_DISCUSSION_ROOT,
        INSERT_DISCUSSION,
        INSERT_TYPED_DISCUSSION,
        INSERT_MESSAGE,
        INSERT_ROOT_MESSAGE,
        INSERT_BUFFER_DATA,
        SELECT_BUFFER_DATA,
        STATEMENT_COUNT
    };

    MessagesStatements();
    ~MessagesStatements() override;

    // Prepares every statement on database, one after the other; completes
    // also when some could not be prepared. Reports on the loop.
    void Prepare(IDatabase* database, UTask* owner);
    // The connection has gone with the statements prepared on it.
    void Forget();

    // Runs a statement with the arguments of its format on db, which must
    // be (or stand in front of) the database of the last Prepare. Select
    // statements deliver their rows whole, insert statements their new id.
    // (`which` is a Statement; an enum cannot precede the variable arguments.)
    void Run(IDatabase* db, UDatabase* user, unsigned which, ...);
    // The statement's format, for running it as text.
    static const char* Format(Statement which);

private:
    struct Entry {
        // The parameter types of the format, in order.
        std::vector<unsigned char> types;
        IPreparedStatement* prepared = nullptr;
    };
    void Start(UTask*) override {}
    void PrepareNext();
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabasePrepareStatementResult(IDatabase* db, IPreparedStatement* statement) override;

    Entry entries[STATEMENT_COUNT];
    IDatabase* preparing = nullptr;
    int next = 0;
};
