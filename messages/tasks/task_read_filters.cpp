#include "messages/tasks/task_read_filters.h"

void TaskReadFilters::Start(UTask* owner)
{
    user = owner;
    if (id) return Query("SELECT * FROM filters WHERE id=%llu AND object=%llu", id, ownerId);
    Query("SELECT * FROM filters WHERE object=%llu ORDER BY seq ", ownerId);
}
