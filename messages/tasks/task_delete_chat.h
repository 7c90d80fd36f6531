#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Deletes a user's side of one chat: the messages in the chat discussions of
// the user's own topic that name the partner. The partner's side, in the
// partner's topic, stays. Completes or fails with its statement.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskDeleteChat : public ITask, public UDatabase {
public:
    TaskDeleteChat(IDatabase* database, const char* topic, const char* partner);
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    std::string topic;
    std::string partner;
};
