#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Creates a row trigger when it does not exist. A trigger declared for
// re-creation is dropped and created on every start, so that a changed
// declaration reaches databases that have the old one.
// Reports TaskComplete or, on a database error, TaskFailed on the loop; the
// owner may delete the task inside either callback.
class TaskPostgreSQLInitTrigger : public ITask, public UDatabase {
public:
    TaskPostgreSQLInitTrigger(IDatabase* database, const char* trigger);
    // events: the timing and event clause, e.g. "BEFORE UPDATE"; formatted by
    // the database, so a '%' in it is written "%%".
    void DefineTrigger(const char* events, const char* table, const char* function, bool recreate);
    void Start(UTask* owner) override;

private:
    enum state_t {
        STATE_CHECKING = 0,
        STATE_DROPPING = 1,
        STATE_CREATING = 2,
        STATE_IDLE,
        STATE_ENDED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    void SetState(state_t next);
    void Create();
    void Finish();

    IDatabase* database;
    std::string trigger;
    std::string table;
    // The CREATE TRIGGER statement with the trigger and table names left as %n.
    std::string createFormat;
    bool recreate = false;
    bool exists = false;
    state_t state = STATE_IDLE;
};
