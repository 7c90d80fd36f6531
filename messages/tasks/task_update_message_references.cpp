#include "messages/tasks/task_update_message_references.h"

#include <algorithm>

#include "messages/tasks/task_get_entity_id.h"
#include "runtime/assert.h"

TaskUpdateMessageReferences::TaskUpdateMessageReferences(IDatabase* database, unsigned long long id,
                                                         const std::vector<std::string>& notify,
                                                         const std::vector<std::string>& tags)
    : database(database), id(id)
{
    for (const std::string& n : notify) entities.push_back({n, 0, false});
    for (const std::string& t : tags) entities.push_back({t, 0, true});
}

TaskUpdateMessageReferences::~TaskUpdateMessageReferences()
{
    delete lookup;
}

void TaskUpdateMessageReferences::SetState(State next)
{
    switch (next) {
    case DELETE_NOTIFICATIONS: ASSERT(state == IDLE, "TaskUpdateMessageReferences started twice"); break;
    case DELETE_TAGS: ASSERT(state == DELETE_NOTIFICATIONS, "TaskUpdateMessageReferences out of order"); break;
    case RESOLVING: ASSERT(state == DELETE_TAGS || state == RESOLVING, "TaskUpdateMessageReferences resolves late"); break;
    case INSERTING: ASSERT(state == DELETE_TAGS || state == RESOLVING || state == INSERTING, "TaskUpdateMessageReferences inserts early"); break;
    case ENDED: ASSERT(state != IDLE && state != ENDED, "TaskUpdateMessageReferences ended twice"); break;
    default: FATAL("TaskUpdateMessageReferences: impossible state");
    }
    state = next;
}

void TaskUpdateMessageReferences::Start(UTask* owner)
{
    user = owner;
    SetState(DELETE_NOTIFICATIONS);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "DELETE FROM message_notifications WHERE message=%llu", id);
}

void TaskUpdateMessageReferences::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    if (state == DELETE_NOTIFICATIONS) {
        SetState(DELETE_TAGS);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, "DELETE FROM message_tags WHERE message=%llu", id);
        return;
    }
    Next();
}

void TaskUpdateMessageReferences::Next()
{
    for (Entity& e : entities) {
        if (e.id) continue;
        SetState(RESOLVING);
        delete lookup;
        if (e.tag) lookup = new TaskGetTagId(database, e.name.c_str());
        else lookup = new TaskGetObjectId(database, e.name.c_str());
        lookup->Start(this);
        return;
    }
    while (inserted < entities.size()) {
        const Entity& e = entities[inserted++];
        std::vector<unsigned long long>& done = e.tag ? tagged : notified;
        if (std::find(done.begin(), done.end(), e.id) != done.end()) continue;
        done.push_back(e.id);
        SetState(INSERTING);
        if (e.tag)
            database->ExecSQL(this, DB_EXEC_FETCH_ALL, "INSERT INTO message_tags (message,tag) VALUES (%llu,%llu)", id,
                              e.id);
        else
            database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                              "INSERT INTO message_notifications (message,object) VALUES (%llu,%llu)", id, e.id);
        return;
    }
    SetState(ENDED);
    Complete();
}

void TaskUpdateMessageReferences::TaskComplete(ITask*)
{
    for (Entity& e : entities)
        if (!e.id) {
            e.id = lookup->GetId();
            return Next();
        }
    FATAL("TaskUpdateMessageReferences look-up without a name");
}

void TaskUpdateMessageReferences::TaskFailed(ITask*)
{
    SetState(ENDED);
    Failed();
}

void TaskUpdateMessageReferences::DatabaseError(IDatabase*, db_error_t)
{
    SetState(ENDED);
    Failed();
}
