#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "runtime/task.h"

class MessagesTaskGetEntityId;

// Replaces the notifications and tags of a message: deletes the old
// references, gets or creates the row of each named user and tag, and
// inserts the new references. Runs inside its owner's transaction.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskUpdateMessageReferences : public ITask, public UTask, public UDatabase {
public:
    // The names are listed without exact repeats and without empty ones.
    TaskUpdateMessageReferences(IDatabase* database, unsigned long long id, const std::vector<std::string>& notify,
                                const std::vector<std::string>& tags);
    ~TaskUpdateMessageReferences() override;
    void Start(UTask* owner) override;

private:
    struct Entity {
        std::string name;
        unsigned long long id;
        bool tag;
    };
    enum State { IDLE, DELETE_NOTIFICATIONS, DELETE_TAGS, RESOLVING, INSERTING, ENDED };

    void SetState(State next);
    void Next();
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    unsigned long long id;
    std::vector<Entity> entities;
    State state = IDLE;
    MessagesTaskGetEntityId* lookup = nullptr;
    size_t inserted = 0;
    // Ids referenced so far: names that differ only in letter case are one
    // row and would break the uniqueness of the reference.
    std::vector<unsigned long long> notified, tagged;
};
