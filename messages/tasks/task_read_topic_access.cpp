#include "messages/tasks/task_read_topic_access.h"

void TaskReadTopicAccess::Start(UTask* owner)
{
    user = owner;
    Query("SELECT id, grp, sip, admin FROM topic_access WHERE topic=%llu", topic);
}
