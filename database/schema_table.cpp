#include "database/schema_table.h"

#include "database/schema_sql.h"
#include "runtime/assert.h"

namespace {

template <class T>
void MarkExisting(std::deque<T>& declared, IDataSet* dataSet)
{
    if (!dataSet) return;
    for (; !dataSet->Eot(); dataSet->Next()) {
        const char* name = dataSet->GetStringValue(0);
        for (T& d : declared)
            if (d.name == name) d.exists = true;
    }
}

}  // namespace

TaskPostgreSQLInitTable::TaskPostgreSQLInitTable(IDatabase* database, const char* table)
    : database(database), table(table ? table : "")
{
}

void TaskPostgreSQLInitTable::AddColumn(const char* name, const char* definition)
{
    columns.push_back({name, definition});
}

void TaskPostgreSQLInitTable::AddConstraint(const char* name, const char* definition)
{
    constraints.push_back({name, definition});
}

void TaskPostgreSQLInitTable::AddIndex(const char* name, const char* columnList, bool unique)
{
    indexes.push_back({name, columnList, unique, "btree", "", false});
}

void TaskPostgreSQLInitTable::AddIndex(const char* name, const char* columnList, const char* method)
{
    indexes.push_back({name, columnList, false, method, "", false});
}

void TaskPostgreSQLInitTable::AddPartialIndex(const char* name, const char* columnList, const char* where)
{
    indexes.push_back({name, columnList, false, "btree", std::string(" WHERE ") + where, false});
}

void TaskPostgreSQLInitTable::Start(UTask* owner)
{
    ASSERT(database && !table.empty(), "TaskPostgreSQLInitTable::Start without database or table name");
    user = owner;
    // A database that is shutting down refuses the command and the refusal
    // arrives as DatabaseError, so even that failure is reported on the loop.
    SetState(STATE_CREATE);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "CREATE TABLE IF NOT EXISTS %S ();", table.c_str());
}

void TaskPostgreSQLInitTable::SetState(state_t next)
{
    switch (next) {
    case STATE_CREATE: ASSERT(state == STATE_IDLE, "TaskPostgreSQLInitTable started twice"); break;
    case STATE_ENDED: ASSERT(state != STATE_IDLE && state != STATE_ENDED, "TaskPostgreSQLInitTable ended twice"); break;
    default: ASSERT(next > state && state != STATE_IDLE, "TaskPostgreSQLInitTable steps out of order"); break;
    }
    state = next;
}

void TaskPostgreSQLInitTable::DatabaseError(IDatabase*, db_error_t)
{
    SetState(STATE_ENDED);
    Failed();
}

void TaskPostgreSQLInitTable::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case STATE_CREATE:
        delete dataSet;
        ReadColumns();
        break;
    case STATE_READ_COLUMNS:
        MarkExisting(columns, dataSet);
        delete dataSet;
        AddMissingColumns();
        break;
    case STATE_ADD_COLUMNS:
        delete dataSet;
        ReadConstraints();
        break;
    case STATE_READ_CONSTRAINTS:
        MarkExisting(constraints, dataSet);
        delete dataSet;
        AddMissingConstraints();
        break;
    case STATE_ADD_CONSTRAINTS:
        delete dataSet;
        if (--outstanding == 0) ReadIndexes();
        break;
    case STATE_READ_INDEXES:
        MarkExisting(indexes, dataSet);
        delete dataSet;
        AddMissingIndexes();
        break;
    case STATE_ADD_INDEXES:
        delete dataSet;
        if (--outstanding == 0) Finish();
        break;
    default: FATAL("TaskPostgreSQLInitTable result without a command");
    }
}

void TaskPostgreSQLInitTable::ReadColumns()
{
    SetState(STATE_READ_COLUMNS);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT column_name FROM information_schema.columns WHERE table_name=%s;",
                      table.c_str());
}

void TaskPostgreSQLInitTable::AddMissingColumns()
{
    // One statement for all of them, so a table never has half of a change.
    char sql[SCHEMA_SQL_BUFFER];
    size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0, "ALTER TABLE %S", table.c_str());
    bool missing = false;
    for (const PostgreSQLTableColumn& c : columns) {
        if (c.exists) continue;
        len = SchemaSqlAppend(database, sql, sizeof(sql), len, "%q ADD COLUMN %S %q", missing ? "," : "", c.name.c_str(),
                              c.definition.c_str());
        ASSERT(len, "TaskPostgreSQLInitTable::AddMissingColumns statement longer than 8k");
        missing = true;
    }
    if (!missing) return ReadConstraints();
    SetState(STATE_ADD_COLUMNS);
    Exec(sql);
}

void TaskPostgreSQLInitTable::ReadConstraints()
{
    SetState(STATE_READ_CONSTRAINTS);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "SELECT constraint_name FROM information_schema.table_constraints WHERE table_name=%s",
                      table.c_str());
}

void TaskPostgreSQLInitTable::AddMissingConstraints()
{
    for (const PostgreSQLTableConstraint& c : constraints)
        if (!c.exists) outstanding++;
    if (!outstanding) return ReadIndexes();
    SetState(STATE_ADD_CONSTRAINTS);
    for (const PostgreSQLTableConstraint& c : constraints) {
        if (c.exists) continue;
        char sql[SCHEMA_SQL_BUFFER];
        size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0, "ALTER TABLE %S ADD CONSTRAINT %S %q", table.c_str(),
                                     c.name.c_str(), c.definition.c_str());
        ASSERT(len, "TaskPostgreSQLInitTable::AddMissingConstraints statement longer than 8k");
        Exec(sql);
    }
}

void TaskPostgreSQLInitTable::ReadIndexes()
{
    // Index names are unique in the whole schema, not per table.
    SetState(STATE_READ_INDEXES);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT indexrelname FROM pg_stat_all_indexes WHERE schemaname = 'public'");
}

void TaskPostgreSQLInitTable::AddMissingIndexes()
{
    for (const PostgreSQLTableIndex& i : indexes)
        if (!i.exists) outstanding++;
    if (!outstanding) return Finish();
    SetState(STATE_ADD_INDEXES);
    for (const PostgreSQLTableIndex& i : indexes) {
        if (i.exists) continue;
        char sql[SCHEMA_SQL_BUFFER];
        size_t len = SchemaSqlAppend(database, sql, sizeof(sql), 0,
                                     i.unique ? "CREATE UNIQUE INDEX %S ON %S USING %q (%q)%q"
                                              : "CREATE INDEX %S ON %S USING %q (%q)%q",
                                     i.name.c_str(), table.c_str(), i.method.c_str(), i.columns.c_str(),
                                     i.where.c_str());
        ASSERT(len, "TaskPostgreSQLInitTable::AddMissingIndexes statement longer than 8k");
        Exec(sql);
    }
}

void TaskPostgreSQLInitTable::Finish()
{
    SetState(STATE_ENDED);
    Complete();
}

void TaskPostgreSQLInitTable::Exec(const char* sql)
{
    // The built text is the format, which turns the "%%" of the fragments into '%'.
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, sql);
}
