#pragma once

#include <string>

#include "messages/tasks/task_rows.h"

// The groups a user belongs to, one row at a time (MessagesTaskRows):
// columns "id", "sip" and "dn" of the group, in the order of creation.
class TaskReadGroups : public MessagesTaskRows {
public:
    TaskReadGroups(IDatabase* database, const char* sip) : MessagesTaskRows(database), sip(sip ? sip : "") {}
    void Start(UTask* owner) override;

private:
    std::string sip;
};
