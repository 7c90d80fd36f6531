#include "messages/tasks/task_rows.h"

#include <stdarg.h>

#include "runtime/assert.h"

MessagesTaskRows::~MessagesTaskRows()
{
    // A row held at deletion ends the statement; the database drains the rest.
    if (state == ROW || whole) delete row;
    if (deleted) *deleted = true;
}

void MessagesTaskRows::SetState(State next)
{
    switch (next) {
    case READING: ASSERT(state == IDLE || state == ROW, "MessagesTaskRows reads out of turn"); break;
    case ROW: ASSERT(state == READING, "MessagesTaskRows row without a read"); break;
    case ENDED: ASSERT(state == READING || state == ROW, "MessagesTaskRows ended twice"); break;
    default: FATAL("MessagesTaskRows: impossible state");
    }
    state = next;
}

void MessagesTaskRows::Query(const char* format, ...)
{
    SetState(READING);
    va_list ap;
    va_start(ap, format);
    database->ExecSQLV(this, 0, format, ap);
    va_end(ap);
}

void MessagesTaskRows::QueryParams(const char* shape, const SqlParams& params, bool whole)
{
    SetState(READING);
    database->ExecSQLParams(this, whole ? DB_EXEC_FETCH_ALL : 0, shape, params);
}

void MessagesTaskRows::Next()
{
    ASSERT(state == ROW, "MessagesTaskRows::Next without a row");
    SetState(READING);
    if (!whole) return row->FetchNextRow();
    ASSERT(deleted, "MessagesTaskRows: the rows of a whole result are taken inside TaskProgress");
    row->Next();
    nextTaken = true;
}

void MessagesTaskRows::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    row = dataSet;
    if (row && !row->IsSingleRowMode()) {
        whole = true;
        return HandOutWhole();
    }
    if (!row || row->Eot() || IsStopRequested()) {
        delete row;
        row = nullptr;
        SetState(ENDED);
        return Complete();
    }
    SetState(ROW);
    Progress(0);
}

// The rows are in memory and the connection has gone on: they go out one
// after the other in this pass, as long as the owner takes them.
void MessagesTaskRows::HandOutWhole()
{
    for (;;) {
        if (row->Eot() || IsStopRequested()) {
            delete row;
            row = nullptr;
            SetState(ENDED);
            return Complete();
        }
        SetState(ROW);
        bool gone = false;
        deleted = &gone;
        nextTaken = false;
        Progress(0);
        if (gone) return;
        deleted = nullptr;
        if (!nextTaken) return;
    }
}

void MessagesTaskRows::DatabaseError(IDatabase*, db_error_t)
{
    // A data set waiting for its next row is deleted by the database; one
    // that we hold is ours.
    if (state == ROW) delete row;
    row = nullptr;
    SetState(ENDED);
    Failed();
}
