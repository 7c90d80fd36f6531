#include "messages/tasks/task_write.h"

#include <stdarg.h>

#include "runtime/assert.h"

void MessagesTaskWrite::SetState(State next)
{
    switch (next) {
    case WRITING: ASSERT(state == IDLE, "MessagesTaskWrite started twice"); break;
    case ENDED: ASSERT(state == WRITING, "MessagesTaskWrite ended twice"); break;
    default: FATAL("MessagesTaskWrite: impossible state");
    }
    state = next;
}

void MessagesTaskWrite::Exec(const char* format, ...)
{
    SetState(WRITING);
    va_list ap;
    va_start(ap, format);
    database->ExecSQLV(this, 0, format, ap);
    va_end(ap);
}

void MessagesTaskWrite::Insert(const char* format, ...)
{
    SetState(WRITING);
    va_list ap;
    va_start(ap, format);
    database->InsertSQLV(this, format, ap);
    va_end(ap);
}

void MessagesTaskWrite::DatabaseError(IDatabase*, db_error_t)
{
    SetState(ENDED);
    Failed();
}

void MessagesTaskWrite::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (dataSet && !dataSet->Eot()) Take(dataSet);
    // Deleting a data set in the middle of its rows lets the database drain the rest.
    delete dataSet;
    SetState(ENDED);
    Complete();
}

void MessagesTaskWrite::DatabaseInsertSQLResult(IDatabase*, unsigned long long newId)
{
    SetState(ENDED);
    id = newId;
    if (id) Complete();
    else Failed();
}
