#include "messages/tasks/task_read_message.h"

#include "database/sql_params.h"
#include "messages/message_content.h"
#include "messages/tasks/task_unread_count.h"

void MessagesTaskReadOne::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void MessagesTaskReadOne::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    for (; dataSet && !dataSet->Eot(); dataSet->Next()) {
        found = true;
        Take(dataSet);
    }
    delete dataSet;
    Complete();
}

void TaskReadMessage::Start(UTask* owner)
{
    user = owner;
    ExecSQLShaped(database, this, DB_EXEC_FETCH_ALL,
                      "SELECT adds_to,replies_to,author.sip AS author,topic.sip AS topic,text,m.guid AS guid,%q AS "
                      "recent FROM messages m JOIN objects AS author ON m.author = author.id JOIN discussions AS "
                      "discussion ON m.adds_to = discussion.id JOIN objects AS topic ON discussion.topic = topic.id "
                      "WHERE m.id=%llu",
                      UNREAD_RECENT, id);
}

void TaskReadMessage::Take(IDataSet* row)
{
    content->id = id;
    content->addsTo = content->discussionId = row->GetULong64Value("adds_to");
    content->repliesTo = row->GetULong64Value("replies_to");
    content->SetAuthor(row->GetStringValueWithNull("author"));
    content->SetTopic(row->GetStringValueWithNull("topic"));
    ReplaceString(content->text, row->GetStringValueWithNull("text"));
    ReplaceString(content->guid, row->GetStringValueWithNull("guid"));
    content->quiet = !row->GetBoolValue("recent");
}

void TaskReadNotifications::Start(UTask* owner)
{
    user = owner;
    ExecSQLShaped(database, this, DB_EXEC_FETCH_ALL,
                      "SELECT o.sip AS sip FROM message_notifications JOIN objects AS o ON object = o.id WHERE "
                      "message=%llu",
                      id);
}

void TaskReadNotifications::Take(IDataSet* row)
{
    list->Add(row->GetStringValue("sip"));
}

void TaskReadMessageTags::Start(UTask* owner)
{
    user = owner;
    ExecSQLShaped(database, this, DB_EXEC_FETCH_ALL,
                      "SELECT t.name AS tag FROM message_tags JOIN tags AS t ON tag = t.id WHERE message=%llu", id);
}

void TaskReadMessageTags::Take(IDataSet* row)
{
    list->Add(row->GetStringValue("tag"));
}
