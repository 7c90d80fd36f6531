#include "messages/tasks/task_write_file_buffer.h"

#include "database/data_set.h"
#include "messages/tasks/messages_statements.h"
#include "runtime/assert.h"

TaskWriteFileBuffer::TaskWriteFileBuffer(IIoMux* iomux, IDatabase* database, unsigned long long id, const char* key,
                                         MessagesStatements* statements)
    : database(database), statements(statements), iomux(iomux), id(id), key(key ? key : "")
{
}

TaskWriteFileBuffer::~TaskWriteFileBuffer()
{
    // The database would call back into freed memory.
    ASSERT(state == NEW || state == IDLE || state == DONE || state == FAILED,
           "TaskWriteFileBuffer deleted while a statement is outstanding");
}

void TaskWriteFileBuffer::SetState(State next)
{
    bool ok;
    switch (next) {
    case CHECKING: ok = state == NEW; break;
    case IDLE: ok = state == CHECKING || state == WRITING; break;
    case WRITING:
    case WRITING_LAST: ok = state == IDLE; break;
    case DONE: ok = state == WRITING_LAST; break;
    case FAILED: ok = state == CHECKING || state == WRITING || state == WRITING_LAST; break;
    default: ok = false; break;
    }
    ASSERT(ok, "TaskWriteFileBuffer impossible state transition");
    state = next;
}

void TaskWriteFileBuffer::Start(UTask* owner)
{
    user = owner;
    SetState(CHECKING);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT id,name FROM files_buffer WHERE id=%llu AND key=%s", id,
                      key.c_str());
}

void TaskWriteFileBuffer::Write(const unsigned char* data, unsigned int length, bool last)
{
    SetState(last ? WRITING_LAST : WRITING);
    if (!length) {
        iomux->SetExec(this, nullptr);
        return;
    }
    if (statements)
        return statements->Run(database, this, MessagesStatements::INSERT_BUFFER_DATA, id, data,
                               (unsigned long long)length);
    database->InsertSQL(this, MessagesStatements::Format(MessagesStatements::INSERT_BUFFER_DATA), id, data,
                        (unsigned long long)length);
}

void TaskWriteFileBuffer::IoExec(void*)
{
    Written();
}

void TaskWriteFileBuffer::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    ASSERT(state == CHECKING, "TaskWriteFileBuffer result while it does not check");
    bool found = dataSet && !dataSet->Eot();
    if (found) name = dataSet->GetStringValue("name");
    delete dataSet;
    if (!found) {
        SetState(FAILED);
        return Failed();
    }
    SetState(IDLE);
    Progress(0);
}

void TaskWriteFileBuffer::DatabaseInsertSQLResult(IDatabase*, unsigned long long)
{
    Written();
}

void TaskWriteFileBuffer::Written()
{
    if (state == WRITING_LAST) {
        SetState(DONE);
        return Complete();
    }
    SetState(IDLE);
    Progress(0);
}

void TaskWriteFileBuffer::DatabaseError(IDatabase*, db_error_t)
{
    SetState(FAILED);
    Failed();
}

void TaskDeleteFileBuffer::Start(UTask* owner)
{
    user = owner;
    Exec("DELETE FROM files_buffer WHERE id=%llu", id);
}
