#pragma once

#include "messages/tasks/task_rows.h"

// A user's saved filters in the user's order, or the one of them with the
// given id, one at a time (MessagesTaskRows): every column of filters. A
// filter of another user is never read, also not by its id.
class TaskReadFilters : public MessagesTaskRows {
public:
    TaskReadFilters(IDatabase* database, unsigned long long owner, unsigned long long id)
        : MessagesTaskRows(database), ownerId(owner), id(id)
    {
    }
    void Start(UTask* owner) override;

private:
    unsigned long long ownerId;
    unsigned long long id;
};
