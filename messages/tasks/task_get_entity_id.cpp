#include "messages/tasks/task_get_entity_id.h"

#include "runtime/assert.h"

MessagesTaskGetEntityId::MessagesTaskGetEntityId(IDatabase* database, const char* table, const char* column)
    : database(database), table(table), column(column)
{
}

void MessagesTaskGetEntityId::SetValue(const char* v)
{
    value = v ? v : "";
}

void MessagesTaskGetEntityId::SetState(State next)
{
    switch (next) {
    case SELECTING: ASSERT(state == IDLE, "MessagesTaskGetEntityId started twice"); break;
    case INSERTING: ASSERT(state == SELECTING, "MessagesTaskGetEntityId inserts before it looked"); break;
    case ENDED: ASSERT(state == SELECTING || state == INSERTING, "MessagesTaskGetEntityId ended twice"); break;
    default: FATAL("MessagesTaskGetEntityId: impossible state");
    }
    state = next;
}

void MessagesTaskGetEntityId::Start(UTask* owner)
{
    // Callers list only names they have checked: an empty one would match
    // or create a nameless row.
    ASSERT(!value.empty(), "MessagesTaskGetEntityId without a value");
    user = owner;
    SetState(SELECTING);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT id FROM %S WHERE LOWER(%n)=LOWER(%s)", table, column,
                      value.c_str());
}

void MessagesTaskGetEntityId::DatabaseError(IDatabase*, db_error_t)
{
    SetState(ENDED);
    Failed();
}

void MessagesTaskGetEntityId::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    bool found = dataSet && !dataSet->Eot();
    if (found) id = dataSet->GetULong64Value("id");
    delete dataSet;
    if (found) {
        SetState(ENDED);
        return Complete();
    }
    SetState(INSERTING);
    database->InsertSQL(this, "INSERT INTO %S (%n) VALUES(%s)", table, column, value.c_str());
}

void MessagesTaskGetEntityId::DatabaseInsertSQLResult(IDatabase*, unsigned long long newId)
{
    SetState(ENDED);
    id = newId;
    if (id) Complete();
    else Failed();
}
