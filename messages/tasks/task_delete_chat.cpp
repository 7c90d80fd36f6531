#include "messages/tasks/task_delete_chat.h"

TaskDeleteChat::TaskDeleteChat(IDatabase* database, const char* topic, const char* partner)
    : database(database), topic(topic ? topic : ""), partner(partner ? partner : "")
{
}

void TaskDeleteChat::Start(UTask* owner)
{
    user = owner;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "DELETE FROM messages WHERE adds_to IN (SELECT id FROM discussions WHERE type=1 AND "
                      "topic=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))) AND EXISTS (SELECT * FROM "
                      "message_notifications WHERE message = id AND object=(SELECT id FROM objects WHERE "
                      "LOWER(sip)=LOWER(%s)))",
                      topic.c_str(), partner.c_str());
}

void TaskDeleteChat::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskDeleteChat::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    Complete();
}
