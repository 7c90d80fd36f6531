#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Creates or replaces a trigger function written in PL/pgSQL, or an
// immutable SQL function; the function is replaced on every start, so its
// body always is the declared one.
// The body is formatted by the database, so a '%' in it is written "%%".
// Reports TaskComplete or, on a database error, TaskFailed on the loop; the
// owner may delete the task inside either callback.
class TaskPostgreSQLInitFunction : public ITask, public UDatabase {
public:
    TaskPostgreSQLInitFunction(IDatabase* database, const char* function);
    // The statements of the body; a closing semicolon is added.
    void TriggerFunction(const char* body);
    // A function of its arguments alone ("t TEXT"), one SQL statement, as
    // an index expression needs; `cost` is what the planner takes a call to
    // cost, in operators, when it weighs testing rows one by one.
    void SqlFunction(const char* arguments, const char* returns, unsigned cost, const char* body);
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
