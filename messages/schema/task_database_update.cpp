#include "messages/schema/task_database_update.h"

#include "runtime/assert.h"

TaskDatabaseUpdate::TaskDatabaseUpdate(IDatabase* database, unsigned flags) : database(database), flags(flags) {}

void TaskDatabaseUpdate::Start(UTask* owner)
{
    ASSERT(database, "TaskDatabaseUpdate::Start without database");
    ASSERT(!started, "TaskDatabaseUpdate started twice");
    user = owner;
    started = true;
    if (flags) return Next();
    // With nothing to update the completion still has to come on a later
    // loop pass; an empty statement gives one, in the connection's order.
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "");
}

void TaskDatabaseUpdate::Next()
{
    if (flags & DATABASE_UPDATE_DISCUSSION_TIME) {
        flags &= ~DATABASE_UPDATE_DISCUSSION_TIME;
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "UPDATE discussions SET time=COALESCE((SELECT MAX(time) FROM messages WHERE adds_to=discussions.id),0)");
        return;
    }
    Complete();
}

void TaskDatabaseUpdate::DatabaseError(IDatabase*, db_error_t)
{
    Next();
}

void TaskDatabaseUpdate::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    Next();
}
