#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Creates, renames or deletes a group: a row of objects with grp set.
// - id 0: creates the group `sip` named dn, with `member` as its first admin;
//   a user without a row yet gets one (a nameless one never does).
// - an id and a dn: renames that group.
// - an id without dn: deletes that group (its memberships go with it).
// Only rows that are groups are renamed or deleted: an id of a user or topic
// changes nothing. Completes when done; a database error fails it, keeping
// what was done so far. Reports on the loop; the owner may delete the task
// inside either callback.
class TaskWriteGroup : public ITask, public UDatabase {
public:
    TaskWriteGroup(IDatabase* database, unsigned long long id, const char* sip, const char* dn, const char* member);
    void Start(UTask* owner) override;
    // The group's row: the new one after a create, 0 after a delete or a
    // create that stored nothing.
    unsigned long long Id() const { return id; }

private:
    // ADDING_ADMIN may fail for a user without a row; CREATING_ADMIN is the
    // one retry that makes the row too.
    enum State { IDLE, CREATING, ADDING_ADMIN, CREATING_ADMIN, RENAMING, DELETING, LEAVING, ENDED };
    void SetState(State next);
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long newId) override;

    IDatabase* database;
    unsigned long long id;
    std::string sip;
    std::string dn;
    bool dnGiven;
    // The first admin, or the member whose membership a delete drops.
    std::string member;
    State state = IDLE;
};
