#include "messages/tasks/task_read_groups.h"

void TaskReadGroups::Start(UTask* owner)
{
    user = owner;
    // Ordered so that a list does not reshuffle after a rename.
    Query("SELECT id, sip, dn FROM objects AS grp WHERE EXISTS (SELECT 1 FROM members WHERE members.object = (SELECT "
          "id FROM objects WHERE LOWER(sip)=LOWER(%s)) AND members.grp = grp.id) ORDER BY id",
          sip.c_str());
}
