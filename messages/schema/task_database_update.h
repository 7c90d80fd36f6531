#pragma once

#include "database/database.h"
#include "runtime/task.h"

// Update flags: data updates that a start needs because of what the fix
// found. Every discussion gets the time of its newest message.
inline constexpr unsigned DATABASE_UPDATE_DISCUSSION_TIME = 0x1;

// Runs the data updates selected by the flags, one statement each. Errors of
// the statements are ignored: an update that cannot run now is of no use to
// the start. Always ends with TaskComplete on the loop; the owner may delete
// the task inside it.
class TaskDatabaseUpdate : public ITask, public UDatabase {
public:
    TaskDatabaseUpdate(IDatabase* database, unsigned flags);
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void Next();

    IDatabase* database;
    unsigned flags;
    bool started = false;
};
