#include "database/schema_enum.h"

#include "database/schema_sql.h"
#include "runtime/assert.h"

TaskPostgreSQLInitEnum::TaskPostgreSQLInitEnum(IDatabase* database, const char* type)
    : database(database), type(type ? type : "")
{
}

void TaskPostgreSQLInitEnum::AddValue(const char* value)
{
    values.push_back(value);
}

void TaskPostgreSQLInitEnum::Start(UTask* owner)
{
    ASSERT(database && !type.empty(), "TaskPostgreSQLInitEnum::Start without database or type name");
    user = owner;
    SetState(STATE_CHECK_TYPE);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT typname FROM pg_type WHERE typname=%s", type.c_str());
}

void TaskPostgreSQLInitEnum::SetState(state_t next)
{
    switch (next) {
    case STATE_CHECK_TYPE: ASSERT(state == STATE_IDLE, "TaskPostgreSQLInitEnum started twice"); break;
    case STATE_CREATE_TYPE:
    case STATE_READ_VALUES: ASSERT(state == STATE_CHECK_TYPE, "TaskPostgreSQLInitEnum steps out of order"); break;
    case STATE_ADD_VALUES: ASSERT(state == STATE_READ_VALUES, "TaskPostgreSQLInitEnum steps out of order"); break;
    case STATE_ENDED: ASSERT(state != STATE_IDLE && state != STATE_ENDED, "TaskPostgreSQLInitEnum ended twice"); break;
    default: FATAL("TaskPostgreSQLInitEnum unknown state");
    }
    state = next;
}

void TaskPostgreSQLInitEnum::DatabaseError(IDatabase*, db_error_t)
{
    SetState(STATE_ENDED);
    Failed();
}

void TaskPostgreSQLInitEnum::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case STATE_CHECK_TYPE: {
        bool exists = dataSet && !dataSet->Eot();
        delete dataSet;
        if (!exists) return CreateEnum();
        SetState(STATE_READ_VALUES);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT unnest(enum_range(NULL::%n))", type.c_str());
        break;
    }
    case STATE_CREATE_TYPE:
        delete dataSet;
        Finish();
        break;
    case STATE_READ_VALUES: {
        std::vector<bool> present = PresentValues(dataSet);
        delete dataSet;
        AddMissingValues(present);
        break;
    }
    case STATE_ADD_VALUES:
        delete dataSet;
        if (--outstanding == 0) Finish();
        break;
    default: FATAL("TaskPostgreSQLInitEnum result without a command");
    }
}

void TaskPostgreSQLInitEnum::CreateEnum()
{
    if (values.empty()) return Finish();
    char sql[SCHEMA_SQL_BUFFER];
    size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0, "CREATE TYPE %n AS ENUM (%s", type.c_str(),
                                 values[0].c_str());
    for (size_t i = 1; i < values.size() && len; i++)
        len = SchemaSqlAppend(database, sql, sizeof(sql), len, ",%s", values[i].c_str());
    if (len) len = SchemaSqlAppend(database, sql, sizeof(sql), len, ")");
    ASSERT(len, "TaskPostgreSQLInitEnum::CreateEnum(): Length of SQL statement is more than 8k");
    SetState(STATE_CREATE_TYPE);
    database->ExecSQL(this, 0, "%q", sql);
}

std::vector<bool> TaskPostgreSQLInitEnum::PresentValues(IDataSet* existing)
{
    std::vector<bool> present(values.size(), false);
    for (; existing && !existing->Eot(); existing->Next()) {
        const char* value = existing->GetStringValue(0);
        for (size_t i = 0; i < values.size(); i++)
            if (values[i] == value) present[i] = true;
    }
    return present;
}

void TaskPostgreSQLInitEnum::AddMissingValues(const std::vector<bool>& present)
{
    for (size_t i = 0; i < values.size(); i++)
        if (!present[i]) outstanding++;
    if (!outstanding) return Finish();
    SetState(STATE_ADD_VALUES);
    // Queued together, so the values are appended in declaration order.
    for (size_t i = 0; i < values.size(); i++)
        if (!present[i]) database->ExecSQL(this, 0, "ALTER TYPE %n ADD VALUE %s", type.c_str(), values[i].c_str());
}

void TaskPostgreSQLInitEnum::Finish()
{
    SetState(STATE_ENDED);
    Complete();
}
