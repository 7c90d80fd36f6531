#pragma once

#include "database/database.h"
#include "runtime/task.h"

// One-off repairs at the start of every connection, before the tables are
// brought up to date:
// - probes for discussions.time; when it is missing, reports
//   Progress(DATABASE_UPDATE_DISCUSSION_TIME), so that the owner runs that
//   update once the column exists;
// - removes one row of a group membership that is stored twice; a start
//   removes one such row, so several copies take several starts.
// Errors are ignored; always ends with TaskComplete on the loop. The owner
// may delete the task inside TaskComplete, not inside TaskProgress.
class TaskDatabaseFix : public ITask, public UDatabase {
public:
    explicit TaskDatabaseFix(IDatabase* database);
    void Start(UTask* owner) override;

private:
    enum state_t {
        STATE_IDLE,
        STATE_PROBE,
        STATE_FIND_DUPLICATE,
        STATE_DELETE_DUPLICATE,
        STATE_ENDED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void SetState(state_t next);
    void FindDuplicate();
    void Finish();

    IDatabase* database;
    state_t state = STATE_IDLE;
};
