#include "messages/schema/task_database_fix.h"

#include "messages/schema/task_database_update.h"
#include "runtime/assert.h"

TaskDatabaseFix::TaskDatabaseFix(IDatabase* database) : database(database) {}

void TaskDatabaseFix::Start(UTask* owner)
{
    ASSERT(database, "TaskDatabaseFix::Start without database");
    user = owner;
    SetState(STATE_PROBE);
    database->ExecSQL(this, 0, "SELECT time FROM discussions WHERE id=0");
}

void TaskDatabaseFix::SetState(state_t next)
{
    switch (next) {
    case STATE_PROBE: ASSERT(state == STATE_IDLE, "TaskDatabaseFix started twice"); break;
    case STATE_FIND_DUPLICATE: ASSERT(state == STATE_PROBE, "TaskDatabaseFix steps out of order"); break;
    case STATE_DELETE_DUPLICATE: ASSERT(state == STATE_FIND_DUPLICATE, "TaskDatabaseFix steps out of order"); break;
    case STATE_ENDED: ASSERT(state != STATE_IDLE && state != STATE_ENDED, "TaskDatabaseFix ended twice"); break;
    default: FATAL("TaskDatabaseFix unknown state");
    }
    state = next;
}

void TaskDatabaseFix::DatabaseError(IDatabase*, db_error_t)
{
    switch (state) {
    case STATE_PROBE:
        // The table or its time column does not exist yet.
        Progress(DATABASE_UPDATE_DISCUSSION_TIME);
        FindDuplicate();
        break;
    case STATE_FIND_DUPLICATE:
    case STATE_DELETE_DUPLICATE: Finish(); break;
    default: FATAL("TaskDatabaseFix error without a command");
    }
}

void TaskDatabaseFix::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    switch (state) {
    case STATE_PROBE:
        delete dataSet;
        FindDuplicate();
        break;
    case STATE_FIND_DUPLICATE: {
        bool found = dataSet && !dataSet->Eot();
        unsigned long long id = found ? dataSet->GetULong64Value("id") : 0;
        delete dataSet;
        if (!found) return Finish();
        SetState(STATE_DELETE_DUPLICATE);
        database->ExecSQL(this, 0, "DELETE FROM members WHERE id=%llu", id);
        break;
    }
    case STATE_DELETE_DUPLICATE:
        delete dataSet;
        Finish();
        break;
    default: FATAL("TaskDatabaseFix result without a command");
    }
}

void TaskDatabaseFix::FindDuplicate()
{
    SetState(STATE_FIND_DUPLICATE);
    database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                      "SELECT m1.id AS id FROM members m1 JOIN members AS m2 ON (m1.grp=m2.grp AND m1.object=m2.object) "
                      "WHERE m1.id!=m2.id ORDER BY m1.grp, m1.object, m1.admin DESC");
}

void TaskDatabaseFix::Finish()
{
    SetState(STATE_ENDED);
    Complete();
}
