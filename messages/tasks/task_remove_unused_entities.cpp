#include "messages/tasks/task_remove_unused_entities.h"

#include "runtime/assert.h"

TaskRemoveUnusedEntities::TaskRemoveUnusedEntities(IDatabase* database) : database(database) {}

void TaskRemoveUnusedEntities::Start(UTask* owner)
{
    ASSERT(database, "TaskRemoveUnusedEntities::Start without database");
    user = owner;
    SetState(STATE_OBJECTS);
    // Without a connection the database refuses the statement and the
    // refusal arrives as DatabaseError.
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "DELETE FROM objects WHERE dn IS NULL"
                      " AND NOT EXISTS (SELECT 1 FROM messages WHERE messages.author=objects.id)"
                      " AND NOT EXISTS (SELECT 1 FROM discussions WHERE discussions.topic=objects.id)"
                      " AND NOT EXISTS (SELECT 1 FROM messages WHERE messages.editor=objects.id)"
                      " AND NOT EXISTS (SELECT 1 FROM message_notifications WHERE message_notifications.object=objects.id)");
}

void TaskRemoveUnusedEntities::SetState(state_t next)
{
    switch (next) {
    case STATE_OBJECTS: ASSERT(state == STATE_IDLE, "TaskRemoveUnusedEntities started twice"); break;
    case STATE_TAGS: ASSERT(state == STATE_OBJECTS, "TaskRemoveUnusedEntities steps out of order"); break;
    case STATE_ENDED: ASSERT(state == STATE_OBJECTS || state == STATE_TAGS, "TaskRemoveUnusedEntities ended twice"); break;
    default: FATAL("TaskRemoveUnusedEntities unknown state");
    }
    state = next;
}

void TaskRemoveUnusedEntities::DatabaseError(IDatabase*, db_error_t)
{
    SetState(STATE_ENDED);
    Failed();
}

void TaskRemoveUnusedEntities::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    switch (state) {
    case STATE_OBJECTS:
        SetState(STATE_TAGS);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "DELETE FROM tags WHERE NOT EXISTS (SELECT 1 FROM message_tags WHERE message_tags.tag=tags.id)");
        break;
    case STATE_TAGS:
        SetState(STATE_ENDED);
        Complete();
        break;
    default: FATAL("TaskRemoveUnusedEntities result without a command");
    }
}
