#include "messages/tasks/task_read_dn.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/assert.h"

TaskReadDn::TaskReadDn(IDatabase* database, const char* sip) : database(database), sip(strdup(sip ? sip : "")) {}

TaskReadDn::~TaskReadDn()
{
    free(sip);
    free(dn);
}

void TaskReadDn::Start(UTask* owner)
{
    ASSERT(database, "TaskReadDn::Start without database");
    user = owner;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "SELECT dn FROM objects WHERE LOWER(sip)=LOWER(%s)", sip);
}

void TaskReadDn::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskReadDn::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (dataSet && !dataSet->Eot()) {
        const char* value = dataSet->GetStringValueWithNull("dn");
        if (value) dn = strdup(value);
    }
    delete dataSet;
    Complete();
}
