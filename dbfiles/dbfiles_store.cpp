#include "dbfiles/dbfiles_store.h"

#include <stdint.h>

#include "database/prepared_statement.h"
#include "dbfiles/dbfiles_cipher.h"
#include "dbfiles/dbfiles_get.h"
#include "dbfiles/dbfiles_list.h"
#include "dbfiles/dbfiles_path_info.h"
#include "dbfiles/dbfiles_put.h"
#include "dbfiles/dbfiles_update.h"
#include "dbfiles/task_dbfiles_start.h"
#include "runtime/assert.h"
#include "runtime/btree.h"
#include "runtime/instance_log.h"

DbFiles::DbFiles(IIoMux* iomux, IInstanceLog* log, const unsigned char* key) : iomux(iomux), log(log)
{
    if (key) cipher = new DbFilesCipher(key);
    log->Log(LOG_DBFILES, "DbFiles(%08x)::DbFiles useEncryption:%u", (unsigned)(uintptr_t)this, cipher ? 1u : 0u);
}

DbFiles::~DbFiles()
{
    ASSERT(!puts, "DbFiles deleted while puts are in progress");
    for (IPreparedStatement* s : statements) delete s;
    delete cipher;
}

ITask* DbFiles::Start(UTask* user, IDatabase* db, const char* folderDefinition)
{
    ASSERT(!database, "DbFiles::Start called twice");
    ASSERT(db, "DbFiles::Start without a database");
    database = db;
    ownFolders = folderDefinition == nullptr;
    ITask* task = new TaskDbFilesStart(this, db, folderDefinition);
    task->Start(user);
    return task;
}

IDbFilesPut* DbFiles::Put(UTask* user, const char* name, unsigned long long folder, bool isFolder)
{
    DbFilesPut* task = new DbFilesPut(this, name, folder, isFolder);
    task->Start(user);
    return task;
}

IDbFilesGet* DbFiles::Get(UTask* user, unsigned long long id, unsigned int offset, bool finalByProgress)
{
    DbFilesGet* task = new DbFilesGet(this, id, offset, finalByProgress);
    task->Start(user);
    return task;
}

ITask* DbFiles::Del(UTask* user, unsigned long long id)
{
    DbFilesUpdate* task = new DbFilesUpdate(this, id);
    task->Start(user);
    return task;
}

ITask* DbFiles::Move(UTask* user, unsigned long long id, const char* name, unsigned long long folder)
{
    DbFilesUpdate* task = new DbFilesUpdate(this, id, name, folder);
    task->Start(user);
    return task;
}

IDbFilesList* DbFiles::List(UTask* user, unsigned long long folder, unsigned long long limit)
{
    DbFilesList* task = new DbFilesList(this, folder, limit);
    task->Start(user);
    return task;
}

IDbFilesPathInfo* DbFiles::PathInfo(UTask* user, const char* path)
{
    DbFilesPathInfo* task = new DbFilesPathInfo(this, path);
    task->Start(user);
    return task;
}

IPreparedStatement* DbFiles::Statement(dbfiles_statement_t index) const
{
    ASSERT(index < DBFILES_STATEMENTS && statements[index], "DbFiles used before its start task completed");
    return statements[index];
}

void DbFiles::SetStatement(unsigned index, IPreparedStatement* statement)
{
    ASSERT(index < DBFILES_STATEMENTS && !statements[index], "DbFiles::SetStatement twice for one index");
    statements[index] = statement;
}

bool DbFiles::EnterPut(DbFilesPut* put)
{
    DbFilesPut::Key key{put->GetFolder(), put->GetName()};
    if (btree::btree_find(puts, &key)) return false;
    puts = btree::btree_put(puts, put);
    return true;
}

void DbFiles::LeavePut(DbFilesPut* put)
{
    puts = btree::btree_get(puts, put);
}
