#pragma once

#include <string>

#include "database/database.h"
#include "messages/readable_topics.h"
#include "messages/tasks/task_rows.h"
#include "runtime/task.h"

// Likes of a user: one row per message and user. TaskLike completes also
// when the like exists already (or cannot be stored): a like is a wish that
// stands either way; a message outside the readable topics is refused
// (nothing stored). TaskUnLike completes or fails with its statement.
// Report on the loop; the owner may delete the task inside either callback.
class TaskLike : public ITask, public UDatabase {
public:
    TaskLike(IDatabase* database, unsigned long long id, const char* sip,
             const MessagesReadableTopics& readable = MessagesReadableTopics(), bool like = true);
    void Start(UTask* owner) override;
    bool Refused() const { return refused; }

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    unsigned long long id;
    std::string sip;
    MessagesReadableTopics readable;
    bool like;
    bool refused = false;
};

class TaskUnLike : public TaskLike {
public:
    TaskUnLike(IDatabase* database, unsigned long long id, const char* sip)
        : TaskLike(database, id, sip, MessagesReadableTopics(), false)
    {
    }
};

// Who liked a message, latest first, one row at a time (MessagesTaskRows):
// columns "sip" and "time".
class TaskLikes : public MessagesTaskRows {
public:
    // Only likes of a message in the readable topics are listed.
    TaskLikes(IDatabase* database, unsigned long long id, unsigned pageSize, const MessagesReadableTopics& readable)
        : MessagesTaskRows(database), id(id), pageSize(pageSize), readable(readable)
    {
    }
    void Start(UTask* owner) override;

private:
    unsigned long long id;
    unsigned pageSize;
    MessagesReadableTopics readable;
};
