#include "messages/tasks/task_set_read.h"

#include "messages/tasks/task_read_message.h"

TaskSetRead::TaskSetRead(IDatabase* database, unsigned long long id, const char* sip,
                         const MessagesReadableTopics& readable)
    : database(database), id(id), sip(sip ? sip : ""), readable(readable)
{
}

void TaskSetRead::Start(UTask* owner)
{
    user = owner;
    // Own messages are never unread, so they are never marked.
    if (readable.All())
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "INSERT INTO message_read (message,object) SELECT %llu,(SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s)) FROM messages WHERE id=%llu AND author<>(SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s))",
                          id, sip.c_str(), id, sip.c_str());
    else
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "INSERT INTO message_read (message,object) SELECT %llu,(SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s)) FROM messages WHERE id=%llu AND author<>(SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s)) AND adds_to IN (SELECT id FROM discussions WHERE %q)",
                          id, sip.c_str(), id, sip.c_str(), readable.Condition("topic").c_str());
}

void TaskSetRead::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskSetRead::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    bool marked = dataSet && dataSet->GetAffectedRows() > 0;
    delete dataSet;
    if (marked) Complete();
    else Failed();
}

TaskSetReadGetContent::TaskSetReadGetContent(IDatabase* database, unsigned long long id, const char* sip,
                                             const MessagesReadableTopics& readable)
    : MessageContent(0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr), database(database), messageId(id),
      mark(database, id, sip, readable)
{
}

TaskSetReadGetContent::~TaskSetReadGetContent()
{
    delete read;
}

void TaskSetReadGetContent::Start(UTask* owner)
{
    user = owner;
    mark.Start(this);
}

void TaskSetReadGetContent::TaskComplete(ITask* task)
{
    // A message deleted between the mark and the read takes the mark with it.
    if (task == read && step == 1 && !read->Found()) return Failed();
    delete read;
    switch (step++) {
    case 0: read = new TaskReadMessage(database, messageId, this); break;
    case 1: read = new TaskReadNotifications(database, messageId, &notifications); break;
    case 2: read = new TaskReadMessageTags(database, messageId, &tags); break;
    default: read = nullptr; return Complete();
    }
    read->Start(this);
}

void TaskSetReadGetContent::TaskFailed(ITask*)
{
    Failed();
}
