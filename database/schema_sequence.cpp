#include "database/schema_sequence.h"

#include "runtime/assert.h"

TaskPostgreSQLInitSequence::TaskPostgreSQLInitSequence(IDatabase* database, const char* sequence)
    : database(database), sequence(sequence ? sequence : "")
{
}

void TaskPostgreSQLInitSequence::Start(UTask* owner)
{
    ASSERT(database && !sequence.empty(), "TaskPostgreSQLInitSequence::Start without database or sequence name");
    ASSERT(!started, "TaskPostgreSQLInitSequence started twice");
    user = owner;
    started = running = true;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "CREATE SEQUENCE IF NOT EXISTS %n", sequence.c_str());
}

void TaskPostgreSQLInitSequence::DatabaseError(IDatabase*, db_error_t)
{
    ASSERT(running, "TaskPostgreSQLInitSequence error without a command");
    running = false;
    Failed();
}

void TaskPostgreSQLInitSequence::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(running, "TaskPostgreSQLInitSequence result without a command");
    delete dataSet;
    running = false;
    Complete();
}
