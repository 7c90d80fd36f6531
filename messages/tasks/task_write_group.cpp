#include "messages/tasks/task_write_group.h"

#include "runtime/assert.h"

TaskWriteGroup::TaskWriteGroup(IDatabase* database, unsigned long long id, const char* sip, const char* dn,
                               const char* member)
    : database(database), id(id), sip(sip ? sip : ""), dn(dn ? dn : ""), dnGiven(dn != nullptr),
      member(member ? member : "")
{
}

void TaskWriteGroup::SetState(State next)
{
    switch (next) {
    case CREATING:
    case RENAMING:
    case DELETING: ASSERT(state == IDLE, "TaskWriteGroup started twice"); break;
    case ADDING_ADMIN: ASSERT(state == CREATING, "TaskWriteGroup adds an admin before its group"); break;
    case CREATING_ADMIN: ASSERT(state == ADDING_ADMIN, "TaskWriteGroup retries twice"); break;
    case LEAVING: ASSERT(state == DELETING, "TaskWriteGroup drops a member before its group"); break;
    case ENDED: ASSERT(state != IDLE && state != ENDED, "TaskWriteGroup ended twice"); break;
    default: FATAL("TaskWriteGroup: impossible state");
    }
    state = next;
}

void TaskWriteGroup::Start(UTask* owner)
{
    user = owner;
    if (!id) {
        SetState(CREATING);
        database->InsertSQL(this, "INSERT INTO objects (sip,dn,grp) VALUES (%s,%s,TRUE)", sip.c_str(),
                            dnGiven ? dn.c_str() : nullptr);
    }
    else if (dnGiven) {
        SetState(RENAMING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, "UPDATE objects SET dn=%s WHERE id=%llu AND grp", dn.c_str(), id);
    }
    else {
        SetState(DELETING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, "DELETE from objects WHERE objects.id = %llu AND objects.grp", id);
    }
}

void TaskWriteGroup::DatabaseInsertSQLResult(IDatabase*, unsigned long long newId)
{
    if (state == CREATING) {
        if (!newId) {
            SetState(ENDED);
            return Failed();
        }
        id = newId;
        SetState(ADDING_ADMIN);
        database->InsertSQL(this,
                            "INSERT INTO members (grp,object,admin) VALUES (%llu,(SELECT id FROM objects WHERE "
                            "LOWER(sip)=LOWER(%s)),TRUE)",
                            id, member.c_str());
        return;
    }
    SetState(ENDED);
    if (newId) Complete();
    else Failed();
}

void TaskWriteGroup::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    if (state == DELETING) {
        SetState(LEAVING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "DELETE from members WHERE members.grp = %llu AND members.object = (SELECT id FROM objects "
                          "WHERE LOWER(objects.sip)=LOWER(%s))",
                          id, member.c_str());
        return;
    }
    if (state == LEAVING) id = 0;
    SetState(ENDED);
    Complete();
}

void TaskWriteGroup::DatabaseError(IDatabase*, db_error_t)
{
    // The admin's sub-select finds no row for a user the database does not
    // know yet: once, the user is made in the same statement.
    if (state == ADDING_ADMIN && !member.empty()) {
        SetState(CREATING_ADMIN);
        database->InsertSQL(this,
                            "WITH member AS (INSERT INTO objects (sip) VALUES (%s) RETURNING id) INSERT INTO members "
                            "(grp,object,admin) VALUES (%llu,(SELECT id FROM member),TRUE)",
                            member.c_str(), id);
        return;
    }
    SetState(ENDED);
    Failed();
}
