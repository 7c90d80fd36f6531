#include "messages/tasks/task_authorize_update_message.h"

TaskAuthorizeUpdateMessage::TaskAuthorizeUpdateMessage(IDatabase* database, unsigned long long id, const char* sip)
    : database(database), id(id), sip(sip ? sip : "")
{
}

void TaskAuthorizeUpdateMessage::Start(UTask* owner)
{
    user = owner;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "SELECT objects.sip as author FROM messages JOIN objects ON messages.author=objects.id WHERE "
                      "messages.id=%llu",
                      id);
}

void TaskAuthorizeUpdateMessage::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskAuthorizeUpdateMessage::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    // The author's name as stored, compared exactly: the login name is the
    // stored one, so a differently spelt name is another login.
    authorized = dataSet && !dataSet->Eot() && sip == dataSet->GetStringValue("author");
    delete dataSet;
    Complete();
}
