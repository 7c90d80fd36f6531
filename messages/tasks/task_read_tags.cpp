#include "messages/tasks/task_read_tags.h"

TaskReadTags::TaskReadTags(IDatabase* database, unsigned count, const char* like, unsigned long long more)
    : MessagesTaskRows(database), count(count ? count : 20), like(like ? like : "%"),
      more(more ? more : 1000000000000ULL)
{
}

void TaskReadTags::Start(UTask* owner)
{
    user = owner;
    Query("SELECT id,name FROM tags WHERE name LIKE %s AND id < %llu ORDER BY id DESC LIMIT %u", like.c_str(), more,
          count);
}
