#include "messages/tasks/task_check_member.h"

TaskCheckMember::TaskCheckMember(IDatabase* database, const char* group, const char* member)
    : MessagesTaskReadOne(database, 0), group(group ? group : ""), member(member ? member : "")
{
}

void TaskCheckMember::Start(UTask* owner)
{
    user = owner;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "SELECT members.id AS id,members.admin AS admin FROM members JOIN objects m ON m.id = "
                      "members.object JOIN objects g ON g.id = members.grp WHERE LOWER(g.sip)=LOWER(%s) AND "
                      "LOWER(m.sip)=LOWER(%s)",
                      group.c_str(), member.c_str());
}

void TaskCheckMember::Take(IDataSet* row)
{
    admin = row->GetBoolValue("admin");
}

void TaskCheckMember::Get(bool& found, bool& isAdmin) const
{
    found = Found();
    isAdmin = found && admin;
}
