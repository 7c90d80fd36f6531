#include "messages/tasks/task_write_member.h"

#include "runtime/assert.h"

TaskWriteMember::TaskWriteMember(IDatabase* database, unsigned long long id, unsigned long long grp,
                                 const char* member, bool admin)
    : database(database), id(id), grp(grp), member(member ? member : ""), memberGiven(member != nullptr), admin(admin)
{
}

void TaskWriteMember::SetState(State next)
{
    switch (next) {
    case ADDING:
    case CHANGING:
    case FINDING: ASSERT(state == IDLE, "TaskWriteMember started twice"); break;
    case CREATING: ASSERT(state == ADDING, "TaskWriteMember retries twice"); break;
    case REMOVING: ASSERT(state == FINDING, "TaskWriteMember removes before it looked"); break;
    case ENDED: ASSERT(state != IDLE && state != ENDED, "TaskWriteMember ended twice"); break;
    default: FATAL("TaskWriteMember: impossible state");
    }
    state = next;
}

void TaskWriteMember::Start(UTask* owner)
{
    user = owner;
    const char* name = memberGiven ? member.c_str() : nullptr;
    if (!id) {
        SetState(ADDING);
        database->InsertSQL(this,
                            "INSERT INTO members (grp,object) VALUES (%llu,(SELECT id FROM objects WHERE "
                            "LOWER(objects.sip)=LOWER(%s)))",
                            grp, name);
    }
    else if (grp && memberGiven) {
        SetState(CHANGING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "UPDATE members SET grp=%llu,object=(SELECT id FROM objects WHERE "
                          "LOWER(objects.sip)=LOWER(%s)),admin=%b WHERE id=%llu",
                          grp, name, admin, id);
    }
    else {
        SetState(FINDING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "SELECT g.sip AS group,u.sip AS user FROM members m JOIN objects g ON g.id=m.grp JOIN "
                          "objects u ON u.id=m.object WHERE m.id=%llu",
                          id);
    }
}

void TaskWriteMember::End(bool failed)
{
    SetState(ENDED);
    if (failed) Failed();
    else Complete();
}

void TaskWriteMember::DatabaseInsertSQLResult(IDatabase*, unsigned long long newId)
{
    End(!newId);
}

void TaskWriteMember::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    if (state == FINDING) {
        found = dataSet && !dataSet->Eot();
        if (found) {
            leftGroup = dataSet->GetStringValue("group");
            leftMember = dataSet->GetStringValue("user");
        }
        delete dataSet;
        SetState(REMOVING);
        database->ExecSQL(this, DB_EXEC_FETCH_ALL, "DELETE FROM members WHERE id=%llu", id);
        return;
    }
    delete dataSet;
    End(false);
}

void TaskWriteMember::DatabaseError(IDatabase*, db_error_t)
{
    // The sub-select finds no row for a user the database does not know yet:
    // once, the user is made in the same statement.
    if (state == ADDING && !member.empty()) {
        SetState(CREATING);
        database->InsertSQL(this,
                            "WITH member AS (INSERT INTO objects (sip) VALUES (%s) RETURNING id) INSERT INTO members "
                            "(grp,object) VALUES (%llu,(SELECT id FROM member))",
                            member.c_str(), grp);
        return;
    }
    // A removal whose delete failed has removed nobody.
    found = false;
    End(true);
}
