#include "messages/tasks/task_read_file_buffer.h"

#include "database/data_set.h"
#include "messages/tasks/messages_statements.h"
#include "runtime/assert.h"

TaskReadFileBuffer::TaskReadFileBuffer(IIoMux* iomux, IDatabase* database, unsigned long long id, const char* key,
                                       MessagesStatements* statements)
    : iomux(iomux), database(database), statements(statements), id(id), key(key ? key : "")
{
}

TaskReadFileBuffer::~TaskReadFileBuffer()
{
    // The database would call back into freed memory.
    ASSERT(state != CHECKING && state != READING, "TaskReadFileBuffer deleted while a statement is outstanding");
}

void TaskReadFileBuffer::SetState(State next)
{
    bool ok;
    switch (next) {
    case CHECKING: ok = state == NEW; break;
    case READING: ok = state == CHECKING || state == HOLDING; break;
    case HOLDING: ok = state == READING; break;
    case ENDING: ok = state == HOLDING; break;
    case DONE: ok = state == READING || state == ENDING; break;
    case FAILED: ok = state == CHECKING || state == READING; break;
    default: ok = false; break;
    }
    ASSERT(ok, "TaskReadFileBuffer impossible state transition");
    state = next;
}

void TaskReadFileBuffer::Start(UTask* owner)
{
    user = owner;
    SetState(CHECKING);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT id,name FROM files_buffer WHERE id=%llu AND key=%s", id,
                      key.c_str());
}

void TaskReadFileBuffer::ReadNext()
{
    SetState(READING);
    // In row order, which is the order the blocks were written in.
    if (statements) return statements->Run(database, this, MessagesStatements::SELECT_BUFFER_DATA, id, last);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, MessagesStatements::Format(MessagesStatements::SELECT_BUFFER_DATA), id,
                      last);
}

void TaskReadFileBuffer::Get(const unsigned char*& data, unsigned int& length)
{
    data = chunk.empty() ? nullptr : chunk.data();
    length = (unsigned)chunk.size();
}

void TaskReadFileBuffer::Read(bool stop)
{
    ASSERT(state == HOLDING, "TaskReadFileBuffer::Read without a chunk reported");
    chunk.clear();
    if (!stop && !stopRequested) return ReadNext();
    SetState(ENDING);
    iomux->SetExec(this, nullptr);
}

void TaskReadFileBuffer::IoExec(void*)
{
    SetState(DONE);
    Complete();
}

void TaskReadFileBuffer::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (state == CHECKING) return Checked(dataSet);
    ASSERT(state == READING, "TaskReadFileBuffer result while it does not read");
    Chunk(dataSet);
}

void TaskReadFileBuffer::Checked(IDataSet* dataSet)
{
    bool found = dataSet && !dataSet->Eot();
    if (found) name = dataSet->GetStringValue("name");
    delete dataSet;
    if (found) return ReadNext();
    SetState(FAILED);
    Failed();
}

void TaskReadFileBuffer::Chunk(IDataSet* dataSet)
{
    if (!dataSet || dataSet->Eot()) {
        delete dataSet;
        SetState(DONE);
        return Complete();
    }
    last = dataSet->GetULong64Value("id");
    const unsigned char* data = dataSet->GetDataValue("data");
    size_t length = data ? dataSet->GetDataSize("data") : 0;
    chunk.assign(data, data + length);
    // The connection's next command waits for the data set: it goes at once.
    delete dataSet;
    SetState(HOLDING);
    Progress(0);
}

void TaskReadFileBuffer::DatabaseError(IDatabase*, db_error_t)
{
    SetState(FAILED);
    Failed();
}
