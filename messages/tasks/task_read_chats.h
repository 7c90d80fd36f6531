#pragma once

#include <string>

#include "messages/tasks/task_rows.h"

// The chats in a user's own topic, one row per partner (a user or a group),
// latest first, one row at a time (MessagesTaskRows): columns "time" (the
// newest message), "count", "sip", "dn" and "grp" of the partner. With
// unread only the messages of others that the user has not read count, and
// partners without such messages are left out.
class TaskReadChats : public MessagesTaskRows {
public:
    TaskReadChats(IDatabase* database, const char* topic, bool unread)
        : MessagesTaskRows(database), topic(topic ? topic : ""), unread(unread)
    {
    }
    void Start(UTask* owner) override;

private:
    std::string topic;
    bool unread;
};
