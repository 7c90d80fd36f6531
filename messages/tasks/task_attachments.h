#pragma once

#include "messages/readable_topics.h"
#include "messages/tasks/task_rows.h"

// The files of a message, in the order they were stored, one row at a time
// (MessagesTaskRows): columns "id" and "name". Only whole files are listed:
// one still being written (its size is not yet set) or one that a restart
// found cut short is left out. Nothing is listed for a message outside the
// readable topics.
class TaskAttachments : public MessagesTaskRows {
public:
    TaskAttachments(IDatabase* database, unsigned long long message, unsigned limit,
                    const MessagesReadableTopics& readable)
        : MessagesTaskRows(database), message(message), limit(limit), readable(readable)
    {
    }
    void Start(UTask* owner) override;

private:
    unsigned long long message;
    unsigned limit;
    MessagesReadableTopics readable;
};
