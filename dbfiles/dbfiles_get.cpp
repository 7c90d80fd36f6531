#include "dbfiles/dbfiles_get.h"

#include <stdint.h>
#include <string.h>

#include "database/prepared_statement.h"
#include "dbfiles/dbfiles_cipher.h"
#include "dbfiles/dbfiles_store.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"

DbFilesGet::DbFilesGet(DbFiles* store, unsigned long long id, unsigned int offset, bool finalByProgress)
    : store(store), id(id), offset(offset), finalByProgress(finalByProgress)
{
}

DbFilesGet::~DbFilesGet()
{
    ASSERT(state == GET_HOLDING || state == GET_ENDING || state == GET_DONE || state == GET_FAILED,
           "DbFilesGet deleted while a statement is outstanding");
}

void DbFilesGet::SetState(state_t next)
{
    bool ok;
    switch (next) {
    case GET_LENGTHS: ok = state == GET_NEW; break;
    case GET_READING: ok = state == GET_NEW || state == GET_LENGTHS || state == GET_HOLDING; break;
    case GET_HOLDING: ok = state == GET_READING; break;
    case GET_ENDING: ok = state == GET_HOLDING; break;
    case GET_DONE: ok = state == GET_LENGTHS || state == GET_READING || state == GET_ENDING; break;
    case GET_FAILED: ok = state == GET_LENGTHS || state == GET_READING; break;
    default: ok = false; break;
    }
    ASSERT(ok, "DbFilesGet impossible state transition");
    state = next;
}

void DbFilesGet::Start(UTask* owner)
{
    user = owner;
    if (offset == 0 && finalByProgress) return ReadChunk(0);
    SetState(GET_LENGTHS);
    IPreparedStatement* s = store->Statement(DBFILES_DATA_LENGTHS);
    s->SetParam(0, id);
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesGet::ReadChunk(unsigned long long from)
{
    SetState(GET_READING);
    IPreparedStatement* s = store->Statement(DBFILES_READ_DATA);
    s->SetParam(0, id);
    s->SetParam(1, from);
    store->GetDatabase()->ExecSQL(this, DB_EXEC_FETCH_ALL, s);
}

void DbFilesGet::Get(const unsigned char*& data, unsigned int& length)
{
    data = chunk.empty() ? nullptr : chunk.data();
    length = (unsigned int)chunk.size();
}

void DbFilesGet::Read(bool stop)
{
    ASSERT(state == GET_HOLDING, "DbFilesGet::Read without a chunk reported");
    chunk.clear();
    if (!stop && !stopRequested) return ReadChunk(next);
    SetState(GET_ENDING);
    store->GetIoMux()->SetExec(this, nullptr);
}

void DbFilesGet::IoExec(void*)
{
    ASSERT(state == GET_ENDING, "DbFilesGet::IoExec in an unexpected state");
    End(GET_DONE);
}

void DbFilesGet::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case GET_LENGTHS: return Lengths(dataSet);
    case GET_READING: return Chunk(dataSet);
    default: FATAL("DbFilesGet::DatabaseExecSQLResult in an unexpected state");
    }
}

void DbFilesGet::Lengths(IDataSet* dataSet)
{
    // The offset falls into the first chunk that ends behind it, so an offset
    // on a boundary starts the following chunk uncut.
    unsigned long long end = 0;
    bool found = false;
    for (; dataSet && !dataSet->Eot(); dataSet->Next()) {
        unsigned long long length = dataSet->GetULong64Value(0);
        unsigned long long chunkId = dataSet->GetULong64Value(1);
        if (dataSet->GetBoolValue(2)) {
            ASSERT(length >= DbFilesCipher::OVERHEAD, "DbFilesGet crypted chunk shorter than IV and tag");
            length -= DbFilesCipher::OVERHEAD;
        }
        if (!found && end + length > offset) {
            found = true;
            next = chunkId;
            cut = offset - end;
        }
        end += length;
        lastChunk = chunkId;
    }
    delete dataSet;
    if (found) return ReadChunk(next);
    if (offset > 0)
        store->GetLog()->Log(LOG_DBFILES,
                             "DbFilesGet(%08x,%08x)::DatabaseExecSQLResultOffset dbfiles:%08x id:%llu offset %llu out of range",
                             (unsigned)(uintptr_t)this, (unsigned)(uintptr_t)user, (unsigned)(uintptr_t)store, id,
                             (unsigned long long)offset);
    End(GET_DONE);
}

void DbFilesGet::Chunk(IDataSet* dataSet)
{
    if (!dataSet || dataSet->Eot()) {
        delete dataSet;
        return End(GET_DONE);
    }
    unsigned long long chunkId = dataSet->GetULong64Value(1);
    bool isCrypted = dataSet->GetBoolValue(2);
    // A session with another bytea_output would hand over text that decodes
    // to garbage; failing is better than serving it.
    const char* text = dataSet->GetStringValue(0);
    if (*text && (text[0] != '\\' || text[1] != 'x')) {
        delete dataSet;
        store->GetLog()->Log(LOG_DBFILES, "DbFilesGet(%08x,%08x)::DatabaseExecSQLResultData not in hex form",
                             (unsigned)(uintptr_t)this, (unsigned)(uintptr_t)user);
        return End(GET_FAILED);
    }
    size_t length = dataSet->GetDataSize(0);
    const unsigned char* data = dataSet->GetDataValue(0);
    bool readable = true;
    if (isCrypted) {
        ASSERT(length >= DbFilesCipher::OVERHEAD, "DbFilesGet crypted chunk shorter than IV and tag");
        DbFilesCipher* cipher = store->GetCipher();
        readable = cipher && cipher->Decrypt(data, length, chunk);
    }
    else {
        chunk.assign(data, data + length);
    }
    // The data set goes before the chunk is reported, so the connection is
    // free while the user sends it.
    delete dataSet;
    if (!readable) {
        store->GetLog()->Log(LOG_DBFILES,
                             "DbFilesGet(%08x,%08x)::DatabaseExecSQLResultData decryption failed, invalid key?",
                             (unsigned)(uintptr_t)this, (unsigned)(uintptr_t)user);
        return End(GET_FAILED);
    }
    if (cut) {
        chunk.erase(chunk.begin(), chunk.begin() + (ptrdiff_t)(cut < chunk.size() ? cut : chunk.size()));
        cut = 0;
    }
    next = chunkId + 1;
    if (!finalByProgress && chunkId == lastChunk) return End(GET_DONE);
    SetState(GET_HOLDING);
    Progress(0);
}

void DbFilesGet::DatabaseError(IDatabase*, db_error_t)
{
    End(GET_FAILED);
}

void DbFilesGet::End(state_t final)
{
    SetState(final);
    if (final == GET_DONE) Complete();
    else Failed();
}
