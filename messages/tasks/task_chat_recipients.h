#pragma once

#include <string>
#include <vector>

#include "messages/tasks/task_rows.h"

class MessageStrings;

// Who gets a copy of a chat message that `writer` has written into the own
// topic, notifying `notified`: each notified person but the writer (the
// copy notifies the writer), and each member of a notified group but the
// writer (the copy notifies the group). One row per copy, columns "topic"
// (where the copy goes) and "notify"; rows as MessagesTaskRows hands them out.
class TaskChatRecipients : public MessagesTaskRows {
public:
    TaskChatRecipients(IDatabase* database, const char* writer, const MessageStrings& notified);
    void Start(UTask* owner) override;

private:
    std::string writer;
    std::vector<std::string> notified;
};
