#include "messages/tasks/task_session.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/assert.h"

TaskSession::TaskSession(IDatabase* database, const char* user, const char* dn)
    : database(database), sipName(strdup(user ? user : "")), dn(strdup(dn ? dn : ""))
{
}

TaskSession::~TaskSession()
{
    free(sipName);
    free(dn);
}

void TaskSession::Start(UTask* owner)
{
    ASSERT(database, "TaskSession::Start without database");
    user = owner;
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "INSERT INTO objects (sip, dn) VALUES (%s,%s) ON CONFLICT (LOWER(sip)) DO UPDATE SET dn = "
                      "EXCLUDED.dn",
                      sipName, dn);
}

void TaskSession::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskSession::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    Complete();
}
