#include "messages/tasks/task_read_members.h"

void TaskReadMembers::Start(UTask* owner)
{
    user = owner;
    // Ordered because a promotion rewrites the row, which would otherwise
    // move it in an unordered scan.
    if (group)
        Query("SELECT members.id AS id,members.admin AS admin,objects.sip AS sip,objects.dn AS dn,g.dn AS gdn FROM "
              "members JOIN objects ON objects.id = object JOIN objects g ON g.id = members.grp WHERE members.grp = "
              "%llu ORDER BY members.id",
              group);
    else
        Query("SELECT members.id AS id,members.admin AS admin,objects.sip AS sip,objects.dn AS dn,g.dn AS gdn FROM "
              "members JOIN objects ON objects.id = object JOIN objects g ON g.id = members.grp WHERE "
              "LOWER(g.sip)=LOWER(%s) ORDER BY members.id",
              groupSip.c_str());
}
