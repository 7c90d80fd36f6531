#pragma once

#include <string>

#include "messages/tasks/task_rows.h"

// The members of a group, named by row id or, with id 0, by SIP name (as
// group chats know it), one row at a time (MessagesTaskRows): columns "id"
// (the membership), "admin", "sip" and "dn" of the member, and "gdn", the
// group's display name; in the order in which members were added.
class TaskReadMembers : public MessagesTaskRows {
public:
    TaskReadMembers(IDatabase* database, unsigned long long group, const char* groupSip = nullptr)
        : MessagesTaskRows(database), group(group), groupSip(groupSip ? groupSip : "")
    {
    }
    void Start(UTask* owner) override;

private:
    unsigned long long group;
    std::string groupSip;
};
