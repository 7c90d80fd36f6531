#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Creates or replaces a trigger function written in PL/pgSQL; the function
// is replaced on every start, so its body always is the declared one.
// The body is formatted by the database, so a '%' in it is written "%%".
// Reports TaskComplete or, on a database error, TaskFailed on the loop; the
// owner may delete the task inside either callback.
class TaskPostgreSQLInitFunction : public ITask, public UDatabase {
public:
    TaskPostgreSQLInitFunction(IDatabase* database, const char* function);
    // The statements of the body; a closing semicolon is added.
    void TriggerFunction(const char* body);
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    std::string function;
    std::string text;
    bool started = false;
    bool running = false;
};
