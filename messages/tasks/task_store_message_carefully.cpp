#include "messages/tasks/task_store_message_carefully.h"

#include <algorithm>

#include "messages/message_content.h"
#include "messages/messages_user.h"
#include "messages/tasks/messages_statements.h"
#include "messages/tasks/task_get_entity_id.h"
#include "runtime/assert.h"

namespace {

const MessageString* Nth(const MessageStrings& list, size_t n)
{
    return n < list.Count() ? list.First() + n : nullptr;
}

bool Seen(std::vector<unsigned long long>& ids, unsigned long long id)
{
    if (std::find(ids.begin(), ids.end(), id) != ids.end()) return true;
    ids.push_back(id);
    return false;
}

}  // namespace

TaskStoreMessageCarefully::TaskStoreMessageCarefully(IDatabase* db, const MessagesUser* poster,
                                                     MessageContent* content)
    : database(db), poster(poster), content(content)
{
}

TaskStoreMessageCarefully::~TaskStoreMessageCarefully()
{
    delete lookup;
}

void TaskStoreMessageCarefully::SetState(State next)
{
    switch (next) {
    case BEGIN: ASSERT(state == IDLE, "TaskStoreMessageCarefully started twice"); break;
    case RESOLVING:
    case LOOKUP_REPLY:
    case LOOKUP_ROOT:
    case INSERT_DISCUSSION: ASSERT(state == BEGIN || state == RESOLVING, "TaskStoreMessageCarefully resolves after storing"); break;
    case INSERT_MESSAGE: ASSERT(state == LOOKUP_REPLY || state == LOOKUP_ROOT, "TaskStoreMessageCarefully inserts before its look-up"); break;
    case INSERT_ROOT: ASSERT(state == INSERT_DISCUSSION, "TaskStoreMessageCarefully root without discussion"); break;
    case REFERENCES: ASSERT(state == INSERT_MESSAGE || state == INSERT_ROOT || state == REFERENCES, "TaskStoreMessageCarefully references before the message"); break;
    case COMMIT: ASSERT(state == INSERT_MESSAGE || state == INSERT_ROOT || state == REFERENCES, "TaskStoreMessageCarefully commits nothing"); break;
    case ENDED: ASSERT(state != IDLE && state != ENDED, "TaskStoreMessageCarefully ended twice"); break;
    default: FATAL("TaskStoreMessageCarefully: impossible state");
    }
    state = next;
}

void TaskStoreMessageCarefully::List(std::vector<Entity>& list, const char* name)
{
    if (!name || !*name) return;
    for (const Entity& e : list)
        if (e.name == name) return;
    list.push_back({name, 0});
}

unsigned long long TaskStoreMessageCarefully::Find(const std::vector<Entity>& list, const char* name)
{
    for (const Entity& e : list)
        if (e.name == name) return e.id;
    return 0;
}

unsigned long long TaskStoreMessageCarefully::GetObjectId(const char* name) const
{
    return name ? Find(objects, name) : 0;
}

unsigned long long TaskStoreMessageCarefully::GetTagId(const char* name) const
{
    return name ? Find(tags, name) : 0;
}

void TaskStoreMessageCarefully::Start(UTask* owner)
{
    ASSERT(content->author && *content->author && content->topic && *content->topic,
           "TaskStoreMessageCarefully without author or topic");
    user = owner;
    // A confident attempt may have got as far as its look-up: the reply's
    // root message it found stays, the rest starts over.
    content->id = 0;
    content->discussionId = content->addsTo;
    SetState(BEGIN);
    database.BeginTransaction(this);
}

void TaskStoreMessageCarefully::DatabaseBeginTransactionResult(IDatabase*)
{
    List(objects, content->author);
    List(objects, content->topic);
    for (const MessageString& s : content->notifications) List(objects, s.value);
    for (const MessageString& s : content->tags) List(tags, s.value);
    Next();
}

void TaskStoreMessageCarefully::Next()
{
    for (auto* list : {&objects, &tags}) {
        for (Entity& e : *list) {
            if (e.id) continue;
            SetState(RESOLVING);
            delete lookup;
            if (list == &objects) lookup = new TaskGetObjectId(&database, e.name.c_str());
            else lookup = new TaskGetTagId(&database, e.name.c_str());
            lookup->Start(this);
            return;
        }
    }
    if (!content->id) {
        if (content->repliesTo) {
            SetState(LOOKUP_REPLY);
            database.ExecSQL(this, DB_EXEC_FETCH_ALL,
                             MessagesStatements::Format(MessagesStatements::SELECT_REPLIED_DISCUSSION), content->repliesTo);
        }
        else if (content->discussionId) {
            SetState(LOOKUP_ROOT);
            database.ExecSQL(this, DB_EXEC_FETCH_ALL,
                             MessagesStatements::Format(MessagesStatements::SELECT_DISCUSSION_ROOT), content->discussionId);
        }
        else {
            SetState(INSERT_DISCUSSION);
            unsigned long long topic = GetObjectId(content->topic);
            if (content->type)
                database.InsertSQL(this, "INSERT INTO discussions (topic,type) VALUES(%llu,%u)", topic, content->type);
            else
                database.InsertSQL(this, "INSERT INTO discussions (topic) VALUES(%llu)", topic);
        }
        return;
    }
    if (NextReference()) return;
    SetState(COMMIT);
    database.EndTransaction(this);
}

bool TaskStoreMessageCarefully::NextReference()
{
    size_t notifications = content->notifications.Count();
    for (;;) {
        size_t at = referencesDone++;
        if (at < notifications) {
            unsigned long long id = GetObjectId(Nth(content->notifications, at)->value);
            if (Seen(notified, id)) continue;
            SetState(REFERENCES);
            database.ExecSQL(this, DB_EXEC_FETCH_ALL,
                             "INSERT INTO message_notifications (message,object) VALUES (%llu,%llu)", content->id, id);
            return true;
        }
        const MessageString* tag = Nth(content->tags, at - notifications);
        if (!tag) return false;
        unsigned long long id = GetTagId(tag->value);
        if (Seen(tagged, id)) continue;
        SetState(REFERENCES);
        database.ExecSQL(this, DB_EXEC_FETCH_ALL, "INSERT INTO message_tags (message,tag) VALUES (%llu,%llu)",
                         content->id, id);
        return true;
    }
}

void TaskStoreMessageCarefully::TaskComplete(ITask*)
{
    const char* name = lookup->GetValue();
    for (auto* list : {&objects, &tags})
        for (Entity& e : *list)
            if (!e.id && e.name == name) {
                e.id = lookup->GetId();
                return Next();
            }
    FATAL("TaskStoreMessageCarefully look-up of an unlisted name");
}

void TaskStoreMessageCarefully::TaskFailed(ITask*)
{
    Fail();
}

void TaskStoreMessageCarefully::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (state == REFERENCES) {
        delete dataSet;
        return Next();
    }
    bool refused = false;
    if (dataSet && !dataSet->Eot()) {
        if (state == LOOKUP_REPLY) content->discussionId = dataSet->GetULong64Value("adds_to");
        else content->repliesTo = dataSet->GetULong64Value("id");
        const char* topic = dataSet->GetStringValue("topic");
        refused = poster && !poster->FindTopic(topic);
        content->SetTopic(topic);
    }
    delete dataSet;
    if (refused) {
        SetState(ENDED);
        database.EndTransaction(this, true);
        return;
    }
    SetState(INSERT_MESSAGE);
    database.InsertSQL(this,
                       "WITH d AS (UPDATE discussions SET time=EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * 1000 WHERE "
                       "id=%llu) INSERT INTO messages (adds_to,replies_to,author,text,guid) VALUES (%llu,%llu,%llu,%s,%s)",
                       content->discussionId, content->discussionId, content->repliesTo,
                       GetObjectId(content->author), content->text, content->guid);
}

void TaskStoreMessageCarefully::DatabaseInsertSQLResult(IDatabase*, unsigned long long id)
{
    if (!id) {
        SetState(ENDED);
        database.EndTransaction(this, true);
        return;
    }
    if (state == INSERT_DISCUSSION) {
        content->discussionId = id;
        SetState(INSERT_ROOT);
        database.InsertSQL(this, "INSERT INTO messages(adds_to,author,text,guid) VALUES(%llu,%llu,%s,%s)",
                           content->discussionId, GetObjectId(content->author), content->text, content->guid);
        return;
    }
    content->id = id;
    Next();
}

void TaskStoreMessageCarefully::DatabaseEndTransactionResult(IDatabase*)
{
    if (state == ENDED) return Failed();
    SetState(ENDED);
    Complete();
}

void TaskStoreMessageCarefully::DatabaseError(IDatabase*, db_error_t)
{
    Fail();
}

void TaskStoreMessageCarefully::Fail()
{
    // A failed statement has made the driver roll back and release the queue.
    if (state != ENDED) SetState(ENDED);
    Failed();
}
