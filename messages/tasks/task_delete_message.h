#pragma once

#include "messages/tasks/task_change_message.h"

// Deletes a message on behalf of its author. The schema's cascades take the
// replies to it (a root message takes its whole discussion's messages) and
// every read mark, like, notification and tag of them; the discussion row stays.
class TaskDeleteMessage : public TaskChangeMessage {
public:
    TaskDeleteMessage(IDatabase* database, unsigned long long id, const char* sip)
        : TaskChangeMessage(database, id, sip)
    {
    }

private:
    void Change() override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
};
