#pragma once

#include "database/database.h"
#include "runtime/task.h"

// Drops all Messages tables with what depends on them; a TaskDatabaseInit
// afterwards creates them again, empty. Reports TaskComplete, or TaskFailed
// on a database error, on the loop; the owner may delete the task inside
// either callback.
class TaskDatabaseReset : public ITask, public UDatabase {
public:
    explicit TaskDatabaseReset(IDatabase* database);
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    bool started = false;
    bool running = false;
};
