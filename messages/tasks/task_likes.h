#pragma once

#include <string>

#include "database/database.h"
#include "messages/tasks/task_rows.h"
#include "runtime/task.h"

// Likes of a user: one row per message and user. TaskLike completes also
// when the like exists already (or cannot be stored): a like is a wish that
// stands either way. TaskUnLike completes or fails with its statement.
// Report on the loop; the owner may delete the task inside either callback.
class TaskLike : public ITask, public UDatabase {
public:
    TaskLike(IDatabase* database, unsigned long long id, const char* sip, bool like = true);
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    unsigned long long id;
    std::string sip;
    bool like;
};

class TaskUnLike : public TaskLike {
public:
    TaskUnLike(IDatabase* database, unsigned long long id, const char* sip) : TaskLike(database, id, sip, false) {}
};

// Who liked a message, latest first, one row at a time (MessagesTaskRows):
// columns "sip" and "time".
class TaskLikes : public MessagesTaskRows {
public:
    TaskLikes(IDatabase* database, unsigned long long id, unsigned pageSize)
        : MessagesTaskRows(database), id(id), pageSize(pageSize)
    {
    }
    void Start(UTask* owner) override;

private:
    unsigned long long id;
    unsigned pageSize;
};
