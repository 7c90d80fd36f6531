#include "messages/tasks/task_change_message.h"

#include "messages/tasks/task_authorize_update_message.h"
#include "messages/tasks/task_remove_unused_entities.h"
#include "runtime/assert.h"

TaskChangeMessage::TaskChangeMessage(IDatabase* db, unsigned long long id, const char* sip)
    : database(db), id(id), sip(sip ? sip : "")
{
}

TaskChangeMessage::~TaskChangeMessage()
{
    delete authorize;
    delete cleanUp;
}

void TaskChangeMessage::SetState(State next)
{
    switch (next) {
    case BEGIN: ASSERT(state == IDLE, "TaskChangeMessage started twice"); break;
    case AUTHORIZING: ASSERT(state == BEGIN, "TaskChangeMessage authorizes outside its transaction"); break;
    case CHANGING: ASSERT(state == AUTHORIZING, "TaskChangeMessage changes unauthorised"); break;
    case CLEANING: ASSERT(state == CHANGING, "TaskChangeMessage cleans up before its change"); break;
    case COMMIT: ASSERT(state == CLEANING, "TaskChangeMessage commits before cleaning up"); break;
    case REFUSING: ASSERT(state == AUTHORIZING, "TaskChangeMessage refuses late"); break;
    case ENDED: ASSERT(state != IDLE && state != ENDED, "TaskChangeMessage ended twice"); break;
    default: FATAL("TaskChangeMessage: impossible state");
    }
    state = next;
}

void TaskChangeMessage::Start(UTask* owner)
{
    ASSERT(id && !sip.empty(), "TaskChangeMessage without message or user");
    user = owner;
    SetState(BEGIN);
    database.BeginTransaction(this);
}

void TaskChangeMessage::DatabaseBeginTransactionResult(IDatabase*)
{
    SetState(AUTHORIZING);
    authorize = new TaskAuthorizeUpdateMessage(&database, id, sip.c_str());
    authorize->Start(this);
}

void TaskChangeMessage::Changed()
{
    SetState(CLEANING);
    cleanUp = new TaskRemoveUnusedEntities(&database);
    cleanUp->Start(this);
}

void TaskChangeMessage::TaskComplete(ITask* task)
{
    if (task == authorize) {
        if (authorize->Authorized()) {
            SetState(CHANGING);
            return Change();
        }
        SetState(REFUSING);
        database.EndTransaction(this, true);
        return;
    }
    if (task == cleanUp) {
        SetState(COMMIT);
        database.EndTransaction(this);
        return;
    }
    ChangeStepComplete(task);
}

void TaskChangeMessage::TaskFailed(ITask*)
{
    Fail();
}

void TaskChangeMessage::DatabaseError(IDatabase*, db_error_t)
{
    Fail();
}

void TaskChangeMessage::DatabaseEndTransactionResult(IDatabase*)
{
    bool refused = state == REFUSING;
    SetState(ENDED);
    if (refused) Failed();
    else Complete();
}

void TaskChangeMessage::Fail()
{
    if (state != ENDED) SetState(ENDED);
    Failed();
}
