#pragma once

#include "runtime/task.h"

class IDatabase;
class TaskPostgreSQLInitTable;

// Declares the Messages tables and brings them up to date, one table after
// the other. The first table that fails ends the task with TaskFailed and
// the tables after it are left as they are; otherwise TaskComplete. Both come
// on the loop, and the owner may delete the task inside either.
class TaskDatabaseInit : public ITask, public UTask {
public:
    explicit TaskDatabaseInit(IDatabase* database);
    ~TaskDatabaseInit() override;
    void Start(UTask* owner) override;

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void StartTable();

    IDatabase* database;
    unsigned next = 0;
    TaskPostgreSQLInitTable* table = nullptr;
};
