#include "messages/schema/task_database_reset.h"

#include "runtime/assert.h"

TaskDatabaseReset::TaskDatabaseReset(IDatabase* database) : database(database) {}

void TaskDatabaseReset::Start(UTask* owner)
{
    ASSERT(database, "TaskDatabaseReset::Start without database");
    ASSERT(!started, "TaskDatabaseReset started twice");
    user = owner;
    started = running = true;
    // CASCADE takes along the references of tables that are not ours (the
    // file store's), while their own rows stay.
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "DROP TABLE files_buffer_data,files_buffer,members,filters,message_likes,message_read,message_tags,"
                      "message_notifications,messages,discussions,tags,topic_access,objects CASCADE");
}

void TaskDatabaseReset::DatabaseError(IDatabase*, db_error_t)
{
    ASSERT(running, "TaskDatabaseReset error without a command");
    running = false;
    Failed();
}

void TaskDatabaseReset::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(running, "TaskDatabaseReset result without a command");
    delete dataSet;
    running = false;
    Complete();
}
