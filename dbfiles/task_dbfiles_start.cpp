#include "dbfiles/task_dbfiles_start.h"

#include <string.h>

#include "database/schema_table.h"
#include "dbfiles/dbfiles_statements.h"
#include "dbfiles/dbfiles_store.h"
#include "runtime/assert.h"

namespace {

const char* const READ_STORAGE =
    "SELECT att.attstorage FROM pg_attribute att JOIN pg_class tbl ON tbl.oid = att.attrelid JOIN pg_namespace ns ON "
    "tbl.relnamespace = ns.oid WHERE tbl.relname = 'files_data' AND att.attname = 'data' AND ns.nspname = 'public' AND "
    "NOT att.attisdropped";
// Chunks are mostly already compressed media: storing them out of line
// without compression saves the server a pointless compression attempt.
const char* const SET_STORAGE = "ALTER TABLE files_data ALTER COLUMN data SET STORAGE EXTERNAL";
const char* const REPAIR =
    "UPDATE files SET size = subquery.size, incomplete=true FROM( SELECT f.id, SUM(LENGTH(fd.data)) AS size FROM files f "
    "JOIN files_data fd ON f.id = fd.file WHERE f.size < 0 GROUP BY f.id ) AS subquery WHERE files.id = subquery.id; ";
const char* const CREATE_ROOT = "INSERT INTO files (name,folder) VALUES ('', 1) ON CONFLICT (name,folder) DO NOTHING";

}  // namespace

TaskDbFilesStart::TaskDbFilesStart(DbFiles* store, IDatabase* database, const char* folderDefinition)
    : store(store), database(database), ownFolders(folderDefinition == nullptr),
      folderDefinition(folderDefinition ? folderDefinition : "BIGINT REFERENCES files(id) ON DELETE CASCADE NOT NULL")
{
    // Without the cascade, deleting the caller's row would be refused while
    // files hang on it, or leave their content behind.
    ASSERT(ownFolders || strstr(folderDefinition, "ON DELETE CASCADE"),
           "TaskDbFilesStart::TaskDbFilesStart folder must contain the ON DELETE CASCADE definition for the foreign key!");
}

TaskDbFilesStart::~TaskDbFilesStart()
{
    delete filesTable;
    delete dataTable;
}

void TaskDbFilesStart::Start(UTask* owner)
{
    user = owner;
    SetState(START_FILES_TABLE);
    CreateFilesTable();
}

void TaskDbFilesStart::SetState(state_t next)
{
    bool ok;
    switch (next) {
    case START_FILES_TABLE: ok = state == START_IDLE; break;
    case START_DATA_TABLE: ok = state == START_FILES_TABLE; break;
    case START_READ_STORAGE: ok = state == START_DATA_TABLE; break;
    case START_SET_STORAGE: ok = state == START_READ_STORAGE; break;
    case START_REPAIR: ok = state == START_READ_STORAGE || state == START_SET_STORAGE; break;
    case START_PREPARE: ok = state == START_REPAIR; break;
    case START_ROOT: ok = state == START_PREPARE && ownFolders; break;
    case START_DONE: ok = state == START_ROOT || (state == START_PREPARE && !ownFolders); break;
    case START_FAILED: ok = state != START_IDLE && state != START_DONE && state != START_FAILED; break;
    default: ok = false; break;
    }
    ASSERT(ok, "TaskDbFilesStart impossible state transition");
    state = next;
}

void TaskDbFilesStart::CreateFilesTable()
{
    filesTable = new TaskPostgreSQLInitTable(database, "files");
    filesTable->AddColumn("id", "BIGSERIAL PRIMARY KEY NOT NULL");
    filesTable->AddColumn("name", "VARCHAR(256)");
    filesTable->AddColumn("size", "BIGINT");
    filesTable->AddColumn("created", "BIGINT");
    filesTable->AddColumn("modified", "BIGINT");
    filesTable->AddColumn("folder", folderDefinition.c_str());
    if (ownFolders) filesTable->AddColumn("is_folder", "BOOLEAN");
    filesTable->AddColumn("incomplete", "BOOLEAN DEFAULT false");
    filesTable->AddColumn("crypted", "BOOLEAN DEFAULT false");
    if (ownFolders) filesTable->AddConstraint("files_folder_name", "UNIQUE (name, folder)");
    filesTable->AddIndex("index_files_folder", "folder", false);
    filesTable->AddIndex("index_files_name", "name", false);
    filesTable->Start(this);
}

void TaskDbFilesStart::CreateDataTable()
{
    dataTable = new TaskPostgreSQLInitTable(database, "files_data");
    dataTable->AddColumn("id", "BIGSERIAL PRIMARY KEY NOT NULL");
    dataTable->AddColumn("data", "BYTEA");
    dataTable->AddColumn("file", "BIGINT REFERENCES files(id) ON DELETE CASCADE");
    dataTable->AddIndex("index_files_data_file", "file", false);
    dataTable->Start(this);
}

void TaskDbFilesStart::TaskComplete(ITask* task)
{
    if (task == filesTable) {
        SetState(START_DATA_TABLE);
        return CreateDataTable();
    }
    ASSERT(task == dataTable, "TaskDbFilesStart::TaskComplete from a foreign task");
    SetState(START_READ_STORAGE);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, READ_STORAGE);
}

void TaskDbFilesStart::TaskFailed(ITask* task)
{
    ASSERT(task == filesTable || task == dataTable, "TaskDbFilesStart::TaskFailed from a foreign task");
    SetState(START_FAILED);
    Failed();
}

void TaskDbFilesStart::DatabaseError(IDatabase*, db_error_t)
{
    // A refused root (row 1 gone, say) costs only path resolution; the store
    // itself works without it.
    if (state == START_ROOT) return Finish();
    SetState(START_FAILED);
    Failed();
}

void TaskDbFilesStart::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case START_READ_STORAGE: {
        bool external = dataSet && !dataSet->Eot() && strcmp(dataSet->GetStringValue(0), "e") == 0;
        delete dataSet;
        if (external) return Repair();
        SetState(START_SET_STORAGE);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, SET_STORAGE);
        return;
    }
    case START_SET_STORAGE:
        delete dataSet;
        return Repair();
    case START_REPAIR:
        delete dataSet;
        return Prepare();
    case START_ROOT:
        delete dataSet;
        return Finish();
    default: FATAL("TaskDbFilesStart::DatabaseExecSQLResult in an unexpected state");
    }
}

void TaskDbFilesStart::Repair()
{
    SetState(START_REPAIR);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, REPAIR);
}

void TaskDbFilesStart::Prepare()
{
    SetState(START_PREPARE);
    nextPrepared = DBFILES_STATEMENTS - 1;
    for (unsigned i = DBFILES_STATEMENTS; i-- > 0;) database->PrepareStatement(this, DbFilesStatementText(i, ownFolders));
}

void TaskDbFilesStart::DatabasePrepareStatementResult(IDatabase*, IPreparedStatement* statement)
{
    ASSERT(state == START_PREPARE, "TaskDbFilesStart::DatabasePrepareStatementResult in an unexpected state");
    store->SetStatement(nextPrepared, statement);
    if (nextPrepared > 0) {
        nextPrepared--;
        return;
    }
    if (!ownFolders) return Finish();
    SetState(START_ROOT);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, CREATE_ROOT);
}

void TaskDbFilesStart::Finish()
{
    SetState(START_DONE);
    Complete();
}
