#include "dbfiles/dbfiles_path_info.h"

#include <stdint.h>

#include "database/prepared_statement.h"
#include "dbfiles/dbfiles_store.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

DbFilesPathInfo::DbFilesPathInfo(DbFiles* store, const char* text) : store(store), path(text ? text : "")
{
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        if (end > begin) components.push_back(path.substr(begin, end - begin));
        begin = end + 1;
    }
    // The root row is the one with the empty name.
    if (components.empty()) components.push_back("");
}

DbFilesPathInfo::~DbFilesPathInfo()
{
    ASSERT(state != PATH_LOOKUP, "DbFilesPathInfo deleted while a statement is outstanding");
}

void DbFilesPathInfo::SetState(state_t next)
{
    bool ok;
    switch (next) {
    case PATH_LOOKUP: ok = state == PATH_NEW || state == PATH_LOOKUP; break;
    case PATH_DONE:
    case PATH_FAILED: ok = state == PATH_LOOKUP; break;
    default: ok = false; break;
    }
    ASSERT(ok, "DbFilesPathInfo impossible state transition");
    state = next;
}

void DbFilesPathInfo::Start(UTask* owner)
{
    user = owner;
    Lookup();
}

void DbFilesPathInfo::Lookup()
{
    SetState(PATH_LOOKUP);
    IPreparedStatement* s = store->Statement(DBFILES_FIND);
    s->SetParam(0, components[current].c_str());
    s->SetParam(1, reached);
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesPathInfo::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(state == PATH_LOOKUP, "DbFilesPathInfo::DatabaseExecSQLResult in an unexpected state");
    found = dataSet && !dataSet->Eot();
    if (found) row.Read(dataSet, store->OwnFolders());
    delete dataSet;
    if (!found || current + 1 == components.size()) return End(PATH_DONE);
    reached = row.id;
    reachedIsFolder = row.isFolder;
    current++;
    if (row.isFolder) return Lookup();
    found = false;
    store->GetLog()->Log(LOG_DBFILES, "DbFilesPathInfo(%08x,%08x)::DatabaseExecSQLResult TaskFailed path:%s folder:%llu isFolder:%x",
                         (unsigned)(uintptr_t)this, (unsigned)(uintptr_t)user, path.c_str(), reached, 0u);
    End(PATH_FAILED);
}

void DbFilesPathInfo::DatabaseError(IDatabase*, db_error_t)
{
    found = false;
    End(PATH_FAILED);
}

void DbFilesPathInfo::End(state_t final)
{
    for (size_t i = current; i < components.size(); i++) {
        if (i > current) rest += "/";
        rest += components[i];
    }
    SetState(final);
    if (final == PATH_DONE) Complete();
    else Failed();
}

bool DbFilesPathInfo::Get(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
                          unsigned long long* created, unsigned long long* modified)
{
    if (!found) return false;
    row.Give(id, name, length, isFolder, created, modified);
    return true;
}

void DbFilesPathInfo::GetFailed(unsigned long long& folder, bool& isFolder, const char*& restOfPath)
{
    folder = reached;
    isFolder = reachedIsFolder;
    restOfPath = rest.c_str();
}
