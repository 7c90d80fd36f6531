#include "messages/tasks/task_store_message_confidently.h"

#include "messages/message_content.h"
#include "messages/messages_user.h"
#include "messages/tasks/messages_statements.h"
#include "runtime/assert.h"


TaskStoreMessageConfidently::TaskStoreMessageConfidently(IDatabase* database, MessagesStatements* statements,
                                                         const MessagesUser* poster, MessageContent* content)
    : database(database), statements(statements), poster(poster), content(content)
{
}

void TaskStoreMessageConfidently::SetState(State next)
{
    switch (next) {
    case BEGIN: ASSERT(state == IDLE, "TaskStoreMessageConfidently started twice"); break;
    case LOOKUP_REPLY:
    case LOOKUP_ROOT:
    case INSERT_DISCUSSION: ASSERT(state == BEGIN, "TaskStoreMessageConfidently looks up outside its transaction"); break;
    case INSERT_MESSAGE: ASSERT(state == LOOKUP_REPLY || state == LOOKUP_ROOT, "TaskStoreMessageConfidently inserts before its look-up"); break;
    case INSERT_ROOT: ASSERT(state == INSERT_DISCUSSION, "TaskStoreMessageConfidently root without discussion"); break;
    case TAGS: ASSERT(state == INSERT_MESSAGE || state == INSERT_ROOT || state == TAGS, "TaskStoreMessageConfidently tags before the message"); break;
    case NOTIFICATIONS: ASSERT(state == INSERT_MESSAGE || state == INSERT_ROOT || state == TAGS || state == NOTIFICATIONS, "TaskStoreMessageConfidently notifications before the message"); break;
    case COMMIT: ASSERT(state != IDLE && state != BEGIN && state != ENDED, "TaskStoreMessageConfidently commits nothing"); break;
    case ENDED: ASSERT(state != IDLE && state != ENDED, "TaskStoreMessageConfidently ended twice"); break;
    default: FATAL("TaskStoreMessageConfidently: impossible state");
    }
    state = next;
}

void TaskStoreMessageConfidently::Start(UTask* owner)
{
    user = owner;
    SetState(BEGIN);
    database->BeginTransaction(this);
}

void TaskStoreMessageConfidently::DatabaseBeginTransactionResult(IDatabase*)
{
    if (content->repliesTo) {
        SetState(LOOKUP_REPLY);
        statements->Run(database, this, MessagesStatements::SELECT_REPLIED_DISCUSSION, content->repliesTo);
    }
    else if (content->discussionId) {
        SetState(LOOKUP_ROOT);
        statements->Run(database, this, MessagesStatements::SELECT_DISCUSSION_ROOT, content->discussionId);
    }
    else {
        SetState(INSERT_DISCUSSION);
        if (content->type)
            statements->Run(database, this, MessagesStatements::INSERT_TYPED_DISCUSSION, content->topic, content->type);
        else statements->Run(database, this, MessagesStatements::INSERT_DISCUSSION, content->topic);
    }
}

void TaskStoreMessageConfidently::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (state == TAGS || state == NOTIFICATIONS) {
        delete dataSet;
        return NextReference();
    }
    // An unknown message or discussion leaves the ids as they are; the
    // insert that follows then fails on its references.
    if (dataSet && !dataSet->Eot()) {
        if (state == LOOKUP_REPLY) content->discussionId = dataSet->GetULong64Value("adds_to");
        else content->repliesTo = dataSet->GetULong64Value("id");
        const char* topic = dataSet->GetStringValue("topic");
        refused = poster && !poster->FindTopic(topic);
        content->SetTopic(topic);
    }
    delete dataSet;
    if (!refused) return InsertMessage();
    SetState(ENDED);
    database->EndTransaction(this, true);
}

void TaskStoreMessageConfidently::InsertMessage()
{
    SetState(INSERT_MESSAGE);
    statements->Run(database, this, MessagesStatements::INSERT_MESSAGE, content->discussionId, content->discussionId,
                    content->repliesTo, content->author, content->text, content->guid);
}

void TaskStoreMessageConfidently::DatabaseInsertSQLResult(IDatabase*, unsigned long long id)
{
    if (!id) {
        // Nothing was inserted, yet the transaction stands: end it.
        SetState(ENDED);
        database->EndTransaction(this, true);
        return;
    }
    if (state == INSERT_DISCUSSION) {
        content->discussionId = id;
        SetState(INSERT_ROOT);
        statements->Run(database, this, MessagesStatements::INSERT_ROOT_MESSAGE, content->discussionId, content->author,
                        content->text, content->guid);
        return;
    }
    content->id = id;
    NextReference();
}

void TaskStoreMessageConfidently::NextReference()
{
    const MessageString* next;
    if (state != NOTIFICATIONS) {
        next = state == TAGS ? content->tags.Next(static_cast<const MessageString*>(reference))
                             : content->tags.First();
        if (next) {
            SetState(TAGS);
            reference = next;
            database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                              "INSERT INTO message_tags (message,tag) VALUES(%llu,(SELECT id FROM tags WHERE name=%s))",
                              content->id, next->value);
            return;
        }
    }
    next = state == NOTIFICATIONS ? content->notifications.Next(static_cast<const MessageString*>(reference))
                                  : content->notifications.First();
    if (next) {
        SetState(NOTIFICATIONS);
        reference = next;
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "INSERT INTO message_notifications (message,object) VALUES(%llu,(SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s)))",
                          content->id, next->value);
        return;
    }
    SetState(COMMIT);
    database->EndTransaction(this);
}

void TaskStoreMessageConfidently::DatabaseEndTransactionResult(IDatabase*)
{
    if (state == ENDED) return Failed();
    SetState(ENDED);
    Complete();
}

void TaskStoreMessageConfidently::DatabaseError(IDatabase*, db_error_t)
{
    // The driver has rolled the transaction back and released the queue.
    if (state != ENDED) SetState(ENDED);
    Failed();
}
