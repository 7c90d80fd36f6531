#include "dbfiles/dbfiles_list.h"

#include <stdint.h>

#include "database/prepared_statement.h"
#include "dbfiles/dbfiles_store.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

DbFilesList::DbFilesList(DbFiles* store, unsigned long long folder, unsigned long long limit)
    : store(store), folder(folder), limit(limit)
{
}

DbFilesList::~DbFilesList()
{
    ASSERT(state != LIST_QUERY, "DbFilesList deleted while a statement is outstanding");
}

void DbFilesList::SetState(state_t next)
{
    bool ok;
    switch (next) {
    case LIST_QUERY: ok = state == LIST_NEW; break;
    case LIST_ROW: ok = state == LIST_QUERY || state == LIST_NEXT; break;
    case LIST_NEXT: ok = state == LIST_ROW; break;
    case LIST_DONE: ok = state == LIST_QUERY || state == LIST_NEXT; break;
    case LIST_FAILED: ok = state == LIST_QUERY; break;
    default: ok = false; break;
    }
    ASSERT(ok, "DbFilesList impossible state transition");
    state = next;
}

void DbFilesList::Start(UTask* owner)
{
    user = owner;
    SetState(LIST_QUERY);
    IPreparedStatement* s = store->Statement(limit ? DBFILES_LIST_LIMIT : DBFILES_LIST);
    s->SetParam(0, folder);
    if (limit) s->SetParam(1, limit);
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesList::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(state == LIST_QUERY, "DbFilesList::DatabaseExecSQLResult in an unexpected state");
    for (; dataSet && !dataSet->Eot(); dataSet->Next()) {
        rows.emplace_back();
        rows.back().Read(dataSet, store->OwnFolders());
    }
    delete dataSet;
    ShowRow();
}

void DbFilesList::DatabaseError(IDatabase*, db_error_t)
{
    SetState(LIST_FAILED);
    Failed();
}

bool DbFilesList::Get(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
                      unsigned long long* created, unsigned long long* modified)
{
    if (state != LIST_ROW) return false;
    rows[current].Give(id, name, length, isFolder, created, modified);
    return true;
}

void DbFilesList::Next()
{
    ASSERT(state == LIST_ROW, "DbFilesList::Next without a row reported");
    current++;
    SetState(LIST_NEXT);
    store->GetIoMux()->SetExec(this, nullptr);
}

void DbFilesList::IoExec(void*)
{
    ASSERT(state == LIST_NEXT, "DbFilesList::IoExec in an unexpected state");
    ShowRow();
}

void DbFilesList::ShowRow()
{
    if (current < rows.size() && !stopRequested) {
        SetState(LIST_ROW);
        return Progress(0);
    }
    store->GetLog()->Log(LOG_DBFILES, "DbFilesList(%08x,%08x)::DatabaseExecSQLResult TaskComplete %s",
                         (unsigned)(uintptr_t)this, (unsigned)(uintptr_t)user, stopRequested ? "stopped" : "");
    SetState(LIST_DONE);
    Complete();
}
