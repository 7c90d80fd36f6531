#include "database/schema_function.h"

#include "database/schema_sql.h"
#include "runtime/assert.h"

TaskPostgreSQLInitFunction::TaskPostgreSQLInitFunction(IDatabase* database, const char* function)
    : database(database), function(function ? function : "")
{
}

void TaskPostgreSQLInitFunction::TriggerFunction(const char* body)
{
    ASSERT(database && body, "TaskPostgreSQLInitFunction::TriggerFunction without database or body");
    char sql[SCHEMA_SQL_BUFFER];
    size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0,
                                 "CREATE OR REPLACE FUNCTION %n()\nRETURNS TRIGGER AS $$\n%q;\n$$ language 'plpgsql'",
                                 function.c_str(), body);
    ASSERT(len, "TaskPostgreSQLInitFunction::TriggerFunction statement longer than 8k");
    text.assign(sql, len);
}

void TaskPostgreSQLInitFunction::SqlFunction(const char* arguments, const char* returns, unsigned cost,
                                             const char* body)
{
    ASSERT(database && arguments && returns && body, "TaskPostgreSQLInitFunction::SqlFunction without a part");
    char sql[SCHEMA_SQL_BUFFER];
    std::string attributes = "LANGUAGE sql IMMUTABLE PARALLEL SAFE COST " + std::to_string(cost);
    size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0, "CREATE OR REPLACE FUNCTION %n(%q)\nRETURNS %q %q AS $$\n%q\n$$",
                                 function.c_str(), arguments, returns, attributes.c_str(), body);
    ASSERT(len, "TaskPostgreSQLInitFunction::SqlFunction statement longer than 8k");
    text.assign(sql, len);
}

void TaskPostgreSQLInitFunction::Start(UTask* owner)
{
    ASSERT(database && !function.empty() && !text.empty(),
           "TaskPostgreSQLInitFunction::Start without database, function name or body");
    ASSERT(!started, "TaskPostgreSQLInitFunction started twice");
    user = owner;
    started = running = true;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, text.c_str());
}

void TaskPostgreSQLInitFunction::DatabaseError(IDatabase*, db_error_t)
{
    ASSERT(running, "TaskPostgreSQLInitFunction error without a command");
    running = false;
    Failed();
}

void TaskPostgreSQLInitFunction::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(running, "TaskPostgreSQLInitFunction result without a command");
    delete dataSet;
    running = false;
    Complete();
}
