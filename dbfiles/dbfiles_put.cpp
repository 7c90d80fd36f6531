#include "dbfiles/dbfiles_put.h"

#include <stdint.h>
#include <string.h>
#include <time.h>

#include "database/prepared_statement.h"
#include "dbfiles/dbfiles_cipher.h"
#include "dbfiles/dbfiles_store.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

namespace {

unsigned long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (unsigned long long)ts.tv_sec * 1000 + (unsigned long long)ts.tv_nsec / 1000000;
}

int CompareKeys(unsigned long long folderA, const char* nameA, unsigned long long folderB, const char* nameB)
{
    if (folderA != folderB) return folderA < folderB ? -1 : 1;
    return strcmp(nameA, nameB);
}

}  // namespace

DbFilesPut::DbFilesPut(DbFiles* store, const char* name, unsigned long long folder, bool isFolder)
    : store(store), name(name ? name : ""), folder(folder), isFolder(isFolder)
{
}

DbFilesPut::~DbFilesPut()
{
    // The database would call back into freed memory.
    ASSERT(state == PUT_IDLE || state == PUT_DONE || state == PUT_FAILED,
           "DbFilesPut deleted while a statement is outstanding");
    if (inTree) store->LeavePut(this);
}

unsigned DbFilesPut::LogId() const
{
    return (unsigned)(uintptr_t)this;
}

int DbFilesPut::btree_compare(void* key)
{
    const Key* k = (const Key*)key;
    return CompareKeys(k->folder, k->name, folder, name.c_str());
}

int DbFilesPut::btree_compare(btree* other)
{
    const DbFilesPut* o = (const DbFilesPut*)other;
    return CompareKeys(o->folder, o->name.c_str(), folder, name.c_str());
}

void DbFilesPut::SetState(state_t next)
{
    bool ok;
    switch (next) {
    case PUT_INSERT: ok = state == PUT_NEW; break;
    case PUT_DELETE_OLD: ok = state == PUT_INSERT; break;
    case PUT_IDLE: ok = state == PUT_INSERT || state == PUT_DELETE_OLD || state == PUT_WRITING; break;
    case PUT_WRITING:
    case PUT_WRITING_LAST: ok = state == PUT_IDLE; break;
    case PUT_FINISHING:
        ok = state == PUT_INSERT || state == PUT_DELETE_OLD || state == PUT_WRITING || state == PUT_WRITING_LAST;
        break;
    case PUT_DONE: ok = state == PUT_FINISHING || (state == PUT_INSERT && isFolder); break;
    case PUT_FAILED: ok = state != PUT_IDLE && state != PUT_DONE && state != PUT_FAILED; break;
    default: ok = false; break;
    }
    ASSERT(ok, "DbFilesPut impossible state transition");
    state = next;
}

void DbFilesPut::Start(UTask* owner)
{
    user = owner;
    if (store->OwnFolders() && !isFolder) {
        if (!store->EnterPut(this)) {
            store->GetLog()->Log(LOG_DBFILES,
                                 "DbFilesPut(%08x,%08x)::Start TaskFailed, as there is already a PUT for name:%s folder:%llu",
                                 LogId(), (unsigned)(uintptr_t)user, name.c_str(), folder);
            SetState(PUT_FAILED);
            store->GetIoMux()->SetExec(this, nullptr);
            return;
        }
        inTree = true;
    }
    SetState(PUT_INSERT);
    unsigned long long now = NowMs();
    IPreparedStatement* s = store->Statement(DBFILES_INSERT_FILE);
    unsigned p = 0;
    s->SetParam(p++, name.c_str());
    // -1 marks a file whose content is still being written.
    s->SetParam(p++, (long long)(isFolder ? 0 : -1));
    s->SetParam(p++, now);
    s->SetParam(p++, now);
    s->SetParam(p++, folder);
    if (store->OwnFolders()) s->SetParam(p++, isFolder);
    s->SetParam(p++, store->GetCipher() != nullptr && !isFolder);
    IDatabase* db = store->GetDatabase();
    if (!isFolder) db->BeginTransaction(this);
    db->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesPut::Write(const unsigned char* data, unsigned int length, bool last)
{
    ASSERT(state == PUT_IDLE, "DbFilesPut::Write while a statement is outstanding");
    ASSERT(data || !length, "DbFilesPut::Write length without data");
    total += length;
    SetState(last ? PUT_WRITING_LAST : PUT_WRITING);
    if (!length) {
        store->GetIoMux()->SetExec(this, nullptr);
        return;
    }
    IPreparedStatement* s = store->Statement(DBFILES_INSERT_DATA);
    if (DbFilesCipher* cipher = store->GetCipher()) {
        cipher->Encrypt(data, length, crypted);
        s->SetParam(0, crypted.data(), crypted.size());
    }
    else {
        s->SetParam(0, data, length);
    }
    s->SetParam(1, id);
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesPut::IoExec(void*)
{
    switch (state) {
    case PUT_FAILED: return Failed();
    case PUT_WRITING:
    case PUT_WRITING_LAST: return ChunkWritten();
    default: FATAL("DbFilesPut::IoExec in an unexpected state");
    }
}

void DbFilesPut::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case PUT_INSERT: return Inserted(dataSet);
    case PUT_DELETE_OLD: delete dataSet; return;
    case PUT_WRITING:
    case PUT_WRITING_LAST:
        delete dataSet;
        return ChunkWritten();
    case PUT_FINISHING:
        delete dataSet;
        return End(PUT_DONE);
    default: FATAL("DbFilesPut::DatabaseExecSQLResult in an unexpected state");
    }
}

void DbFilesPut::Inserted(IDataSet* dataSet)
{
    bool row = dataSet && !dataSet->Eot();
    long long oldSize = 0;
    if (row) {
        id = dataSet->GetULong64Value(0);
        oldSize = dataSet->GetLong64Value(1);
    }
    delete dataSet;
    IDatabase* db = store->GetDatabase();
    // RETURNING always yields the row; should it not, the put fails with id 0
    // once the transaction is rolled back.
    if (isFolder) return row ? End(PUT_DONE) : DatabaseError(db, DB_ERR_SQL_COMMAND_FAILED);
    if (!row) return db->EndTransaction(this, true);
    if (oldSize > 0) {
        // An overwritten file starts empty, in the same transaction that
        // claimed its row.
        SetState(PUT_DELETE_OLD);
        IPreparedStatement* del = store->Statement(DBFILES_DELETE_DATA);
        del->SetParam(0, id);
        db->ExecSQL(this, DB_EXEC_FETCH_ALL, del);
        IPreparedStatement* size = store->Statement(DBFILES_SET_SIZE);
        size->SetParam(0, -1LL);
        size->SetParam(1, id);
        db->ExecSQL(this, DB_EXEC_FETCH_ALL, size);
    }
    db->EndTransaction(this);
}

void DbFilesPut::DatabaseEndTransactionResult(IDatabase*)
{
    ASSERT(state == PUT_INSERT || state == PUT_DELETE_OLD, "DbFilesPut::DatabaseEndTransactionResult unexpected");
    if (!id) return DatabaseError(nullptr, DB_ERR_SQL_COMMAND_FAILED);
    if (stopRequested) return WriteSize((long long)total);
    SetState(PUT_IDLE);
    Progress(0);
}

void DbFilesPut::ChunkWritten()
{
    // A stopped put keeps what it has and is closed like a complete one.
    if (state == PUT_WRITING_LAST || stopRequested) return WriteSize((long long)total);
    SetState(PUT_IDLE);
    Progress(0);
}

void DbFilesPut::WriteSize(long long size)
{
    SetState(PUT_FINISHING);
    IPreparedStatement* s = store->Statement(DBFILES_SET_SIZE);
    s->SetParam(0, size);
    s->SetParam(1, id);
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesPut::DatabaseError(IDatabase*, db_error_t error)
{
    store->GetLog()->Log(LOG_DBFILES, "DbFilesPut(%08x,%08x)::DatabaseError TaskFailed error:%u", LogId(),
                         (unsigned)(uintptr_t)user, (unsigned)error);
    End(PUT_FAILED);
}

void DbFilesPut::End(state_t final)
{
    SetState(final);
    if (inTree) store->LeavePut(this);
    inTree = false;
    if (final == PUT_DONE) Complete();
    else Failed();
}
