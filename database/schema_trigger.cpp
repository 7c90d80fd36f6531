#include "database/schema_trigger.h"

#include "database/schema_sql.h"
#include "runtime/assert.h"

TaskPostgreSQLInitTrigger::TaskPostgreSQLInitTrigger(IDatabase* database, const char* trigger)
    : database(database), trigger(trigger ? trigger : "")
{
}

void TaskPostgreSQLInitTrigger::DefineTrigger(const char* events, const char* table, const char* function,
                                              bool recreate)
{
    ASSERT(database && events && table && function, "TaskPostgreSQLInitTrigger::DefineTrigger incomplete");
    char sql[SCHEMA_SQL_BUFFER];
    size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0,
                                 "CREATE TRIGGER %%n %q ON %%n FOR EACH ROW EXECUTE PROCEDURE %n()", events, function);
    ASSERT(len, "TaskPostgreSQLInitTrigger::DefineTrigger statement longer than 8k");
    createFormat.assign(sql, len);
    this->table = table;
    this->recreate = recreate;
}

void TaskPostgreSQLInitTrigger::Start(UTask* owner)
{
    ASSERT(database && !trigger.empty() && !createFormat.empty(),
           "TaskPostgreSQLInitTrigger::Start without database, trigger name or definition");
    user = owner;
    SetState(STATE_CHECKING);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT tgname FROM pg_trigger WHERE tgname=%s", trigger.c_str());
}

void TaskPostgreSQLInitTrigger::SetState(state_t next)
{
    switch (next) {
    case STATE_CHECKING: ASSERT(state == STATE_IDLE, "TaskPostgreSQLInitTrigger started twice"); break;
    case STATE_DROPPING: ASSERT(state == STATE_CHECKING, "TaskPostgreSQLInitTrigger steps out of order"); break;
    case STATE_CREATING:
        ASSERT(state == STATE_CHECKING || state == STATE_DROPPING, "TaskPostgreSQLInitTrigger steps out of order");
        break;
    case STATE_ENDED:
        ASSERT(state != STATE_IDLE && state != STATE_ENDED, "TaskPostgreSQLInitTrigger ended twice");
        break;
    default: FATAL("TaskPostgreSQLInitTrigger unknown state");
    }
    state = next;
}

void TaskPostgreSQLInitTrigger::DatabaseError(IDatabase*, db_error_t)
{
    SetState(STATE_ENDED);
    Failed();
}

void TaskPostgreSQLInitTrigger::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case STATE_CHECKING:
        exists = dataSet && !dataSet->Eot();
        delete dataSet;
        if (exists && !recreate) return Finish();
        if (!exists) return Create();
        SetState(STATE_DROPPING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, "DROP TRIGGER %n ON %n", trigger.c_str(), table.c_str());
        break;
    case STATE_DROPPING:
        delete dataSet;
        Create();
        break;
    case STATE_CREATING:
        delete dataSet;
        Finish();
        break;
    default: FATAL("TaskPostgreSQLInitTrigger result without a command");
    }
}

void TaskPostgreSQLInitTrigger::Create()
{
    SetState(STATE_CREATING);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, createFormat.c_str(), trigger.c_str(), table.c_str());
}

void TaskPostgreSQLInitTrigger::Finish()
{
    SetState(STATE_ENDED);
    Complete();
}
