#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Adds, changes or removes a membership: a row of members.
// - id 0: adds `member` to the group `grp`, not as an admin; a user without
//   a row yet gets one (a nameless one never does).
// - an id, a group and a member: the membership now holds that group and
//   user, and the admin flag.
// - otherwise: removes the membership `id`, and tells who left which group.
// Completes when done; a database error fails it. Reports on the loop; the
// owner may delete the task inside either callback.
class TaskWriteMember : public ITask, public UDatabase {
public:
    TaskWriteMember(IDatabase* database, unsigned long long id, unsigned long long grp, const char* member, bool admin);
    void Start(UTask* owner) override;
    // After a removal of a membership that existed: the group's and the
    // user's SIP names; null otherwise.
    const char* LeftGroup() const { return found ? leftGroup.c_str() : nullptr; }
    const char* LeftMember() const { return found ? leftMember.c_str() : nullptr; }

private:
    // ADDING may fail for a user without a row; CREATING is the one retry
    // that makes the row too. FINDING keeps the names of what REMOVING drops.
    enum State { IDLE, ADDING, CREATING, CHANGING, FINDING, REMOVING, ENDED };
    void SetState(State next);
    void End(bool failed);
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long newId) override;

    IDatabase* database;
    unsigned long long id;
    unsigned long long grp;
    std::string member;
    bool memberGiven;
    bool admin;
    State state = IDLE;
    bool found = false;
    std::string leftGroup;
    std::string leftMember;
};
