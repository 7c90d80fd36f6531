#pragma once

#include <string>

#include "database/database.h"
#include "database/database_switch.h"
#include "runtime/task.h"

class TaskAuthorizeUpdateMessage;
class TaskRemoveUnusedEntities;

// What an edit and a delete share: one transaction, on a switch of its own,
// that begins by making sure the user wrote the message and ends by removing
// the users and tags nothing refers to any more. The subclass does its change
// in between, on `database`, and calls Changed() when it is done.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskChangeMessage : public ITask, public UTask, public UDatabase {
public:
    ~TaskChangeMessage() override;
    // The id must not be 0, the user must be named and the database connected.
    void Start(UTask* owner) override;

protected:
    TaskChangeMessage(IDatabase* database, unsigned long long id, const char* sip);

    // The user wrote the message: change it.
    virtual void Change() = 0;
    // A sub-task of the subclass has completed.
    virtual void ChangeStepComplete(ITask*) {}
    void Changed();
    // A failed statement or sub-task: the driver has rolled back already.
    void Fail();

    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseBeginTransactionResult(IDatabase* db) override;
    void DatabaseEndTransactionResult(IDatabase* db) override;

    DatabaseSwitch database;
    unsigned long long id;
    std::string sip;

private:
    // CHANGING covers the subclass's steps; REFUSING is the rollback of an
    // unauthorised change.
    enum State { IDLE, BEGIN, AUTHORIZING, CHANGING, CLEANING, COMMIT, REFUSING, ENDED };
    void SetState(State next);

    State state = IDLE;
    TaskAuthorizeUpdateMessage* authorize = nullptr;
    TaskRemoveUnusedEntities* cleanUp = nullptr;
};
