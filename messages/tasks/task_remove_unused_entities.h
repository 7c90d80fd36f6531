#pragma once

#include "database/database.h"
#include "runtime/task.h"

// Deletes the objects that nothing refers to and that have no display name
// (entities known only by address), and the tags no message carries. Objects
// with a display name are kept: they are users, topics or groups in their own
// right. Deleting an object takes its access, membership, read, like and
// notification rows with it.
// Reports TaskComplete, or TaskFailed on a database error, on the loop; the
// owner may delete the task inside either callback.
class TaskRemoveUnusedEntities : public ITask, public UDatabase {
public:
    explicit TaskRemoveUnusedEntities(IDatabase* database);
    void Start(UTask* owner) override;

private:
    enum state_t {
        STATE_IDLE,
        STATE_OBJECTS,
        STATE_TAGS,
        STATE_ENDED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void SetState(state_t next);

    IDatabase* database;
    state_t state = STATE_IDLE;
};
