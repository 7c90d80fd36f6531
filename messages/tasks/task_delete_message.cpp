#include "messages/tasks/task_delete_message.h"

void TaskDeleteMessage::Change()
{
    database.ExecSQL(this, DB_EXEC_FETCH_ALL, "DELETE FROM messages WHERE id=%llu", id);
}

void TaskDeleteMessage::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    Changed();
}
