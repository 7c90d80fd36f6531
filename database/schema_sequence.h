#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Creates a sequence when it does not exist yet; an existing one is kept as it is.
// Reports TaskComplete or, on a database error, TaskFailed on the loop; the
// owner may delete the task inside either callback.
class TaskPostgreSQLInitSequence : public ITask, public UDatabase {
public:
    TaskPostgreSQLInitSequence(IDatabase* database, const char* sequence);
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    std::string sequence;
    bool started = false;
    bool running = false;
};
