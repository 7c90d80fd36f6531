#include "messages/schema/task_database_init.h"

#include "database/schema_table.h"
#include "messages/schema/messages_tables.h"
#include "runtime/assert.h"

TaskDatabaseInit::TaskDatabaseInit(IDatabase* database) : database(database) {}

TaskDatabaseInit::~TaskDatabaseInit()
{
    delete table;
}

void TaskDatabaseInit::Start(UTask* owner)
{
    ASSERT(!table && next == 0, "TaskDatabaseInit started twice");
    user = owner;
    StartTable();
}

void TaskDatabaseInit::StartTable()
{
    // One table at a time: a table's references need the tables before it.
    table = CreateMessagesTableTask(database, next++);
    table->Start(this);
}

void TaskDatabaseInit::TaskComplete(ITask* task)
{
    ASSERT(task == table, "TaskDatabaseInit::TaskComplete from a foreign task");
    delete table;
    table = nullptr;
    if (next < MESSAGES_TABLE_COUNT) return StartTable();
    Complete();
}

void TaskDatabaseInit::TaskFailed(ITask* task)
{
    ASSERT(task == table, "TaskDatabaseInit::TaskFailed from a foreign task");
    delete table;
    table = nullptr;
    Failed();
}
