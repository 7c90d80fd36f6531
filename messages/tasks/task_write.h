#pragma once

#include "database/database.h"
#include "runtime/task.h"

// A task of one writing statement that ends with an id: the row it wrote
// (an insert's new row, a row the statement returns) or the one it was
// given. It completes when the statement's result has come and fails on a
// database error; an insert without a new row fails too.
// Reports on the loop; the owner may delete the task inside either callback.
class MessagesTaskWrite : public ITask, public UDatabase {
public:
    unsigned long long Id() const { return id; }

protected:
    MessagesTaskWrite(IDatabase* database, unsigned long long id) : database(database), id(id) {}
    // For Start, one of them: the statement, formatted as by ExecSQL; or an
    // insert whose new row's id becomes Id().
    void Exec(const char* format, ...);
    void Insert(const char* format, ...);
    // The first row of an Exec result, if it has one.
    virtual void Take(IDataSet*) {}
    void DatabaseError(IDatabase* db, db_error_t error) override;

    IDatabase* database;
    unsigned long long id;

private:
    enum State { IDLE, WRITING, ENDED };
    void SetState(State next);
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long newId) override;

    State state = IDLE;
};
