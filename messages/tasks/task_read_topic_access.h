#pragma once

#include "messages/tasks/task_rows.h"

// The access rows of a topic, one at a time (MessagesTaskRows): columns
// "id", "grp", "sip" and "admin". Topic 0, one unknown to the caller, has none.
class TaskReadTopicAccess : public MessagesTaskRows {
public:
    TaskReadTopicAccess(IDatabase* database, unsigned long long topic) : MessagesTaskRows(database), topic(topic) {}
    void Start(UTask* owner) override;

private:
    unsigned long long topic;
};
