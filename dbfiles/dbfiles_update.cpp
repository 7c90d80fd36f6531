#include "dbfiles/dbfiles_update.h"

#include "database/prepared_statement.h"
#include "dbfiles/dbfiles_store.h"
#include "runtime/assert.h"

DbFilesUpdate::DbFilesUpdate(DbFiles* store, unsigned long long id)
    : store(store), statement(DBFILES_DELETE_FILE), id(id)
{
}

DbFilesUpdate::DbFilesUpdate(DbFiles* store, unsigned long long id, const char* name, unsigned long long folder)
    : store(store), statement(DBFILES_MOVE_FILE), id(id), name(name ? name : ""), folder(folder)
{
}

DbFilesUpdate::~DbFilesUpdate()
{
    ASSERT(state != UPDATE_RUNNING, "DbFilesUpdate deleted while a statement is outstanding");
}

void DbFilesUpdate::SetState(state_t next)
{
    bool ok = next == UPDATE_RUNNING ? state == UPDATE_NEW : state == UPDATE_RUNNING;
    ASSERT(ok, "DbFilesUpdate impossible state transition");
    state = next;
}

void DbFilesUpdate::Start(UTask* owner)
{
    user = owner;
    SetState(UPDATE_RUNNING);
    IPreparedStatement* s = store->Statement(statement);
    if (statement == DBFILES_MOVE_FILE) {
        s->SetParam(0, name.c_str());
        s->SetParam(1, folder);
        s->SetParam(2, id);
    }
    else {
        s->SetParam(0, id);
    }
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesUpdate::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    SetState(UPDATE_DONE);
    Complete();
}

void DbFilesUpdate::DatabaseError(IDatabase*, db_error_t)
{
    SetState(UPDATE_FAILED);
    Failed();
}
