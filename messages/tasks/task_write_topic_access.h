#pragma once

#include "messages/tasks/task_write.h"

// Grants a topic (an access row for a user, a group, or with an empty name
// everyone) or, given the row's id, takes the grant back. Id() is the new
// row after a grant, the given one after a removal, and 0 after a failure:
// a grant that exists already fails on the table's uniqueness.
class TaskWriteTopicAccess : public MessagesTaskWrite {
public:
    // sip is copied and may be null.
    TaskWriteTopicAccess(IDatabase* database, unsigned long long topic, unsigned long long id, bool grp,
                         const char* sip, bool admin);
    ~TaskWriteTopicAccess() override;
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;

    unsigned long long topic;
    bool grp;
    char* sip = nullptr;
    bool admin;
};
