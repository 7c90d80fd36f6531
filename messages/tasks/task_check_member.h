#pragma once

#include <string>

#include "messages/tasks/task_read_message.h"

// Whether a user belongs to a group, both named by SIP name: chat calls to a
// group's name are connected only for its members. Completes also when the
// user is no member; fails on a database error.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskCheckMember : public MessagesTaskReadOne {
public:
    TaskCheckMember(IDatabase* database, const char* group, const char* member);
    void Start(UTask* owner) override;
    // After completion: a member, and whether as an admin.
    void Get(bool& found, bool& admin) const;

private:
    void Take(IDataSet* row) override;

    std::string group;
    std::string member;
    bool admin = false;
};
