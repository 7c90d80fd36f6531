#include "messages/schema/task_database_init.h"

#include "database/schema_function.h"
#include "database/schema_table.h"
#include "messages/schema/messages_tables.h"
#include "runtime/assert.h"

TaskDatabaseInit::TaskDatabaseInit(IDatabase* database) : database(database) {}

TaskDatabaseInit::~TaskDatabaseInit()
{
    delete step;
}

void TaskDatabaseInit::Start(UTask* owner)
{
    ASSERT(!step && next == 0, "TaskDatabaseInit started twice");
    user = owner;
    StartStep();
}

void TaskDatabaseInit::StartStep()
{
    // The functions first, as indexes are built on them; then one table at
    // a time: a table's references need the tables before it.
    if (next == 0) step = CreateMessagesFunctionTask(database);
    else step = CreateMessagesTableTask(database, next - 1);
    next++;
    step->Start(this);
}

void TaskDatabaseInit::TaskComplete(ITask* task)
{
    ASSERT(task == step, "TaskDatabaseInit::TaskComplete from a foreign task");
    delete step;
    step = nullptr;
    if (next <= MESSAGES_TABLE_COUNT) return StartStep();
    Complete();
}

void TaskDatabaseInit::TaskFailed(ITask* task)
{
    ASSERT(task == step, "TaskDatabaseInit::TaskFailed from a foreign task");
    delete step;
    step = nullptr;
    Failed();
}
