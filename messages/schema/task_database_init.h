#pragma once

#include "runtime/task.h"

class IDatabase;

// Declares the functions that indexes are built on, then the Messages tables,
// and brings them up to date, one after the other. The first step that
// fails ends the task with TaskFailed and those after it are left as they
// are; otherwise TaskComplete. Both come on the loop, and the owner may
// delete the task inside either.
class TaskDatabaseInit : public ITask, public UTask {
public:
    explicit TaskDatabaseInit(IDatabase* database);
    ~TaskDatabaseInit() override;
    void Start(UTask* owner) override;

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void StartStep();

    IDatabase* database;
    // Step 0 declares the functions, step i > 0 table i - 1.
    unsigned next = 0;
    ITask* step = nullptr;
};
