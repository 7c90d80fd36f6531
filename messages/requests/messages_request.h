#pragma once

#include "runtime/iomux.h"
#include "runtime/task.h"

class IDatabase;
class MessagesRequestContext;
class json_io;

// One client message being handled: its session's current request until it
// ends. A request runs its database work as the owner of its task, sends
// rows and one reply through its context, does its after-reply work (the
// announcements to other sessions) once the reply has left, and ends. It is
// deleted by its context on a later loop pass than the one that ended it, so
// nothing is deleted inside a chain of task callbacks.
class MessagesRequest : public UTask, public UIoExec {
public:
    explicit MessagesRequest(MessagesRequestContext* context);
    MessagesRequest(const MessagesRequest&) = delete;
    MessagesRequest& operator=(const MessagesRequest&) = delete;
    ~MessagesRequest() override;

    // Starts the work. Whatever the request does, it replies or ends later
    // through Reply or End; nothing is called back from inside Begin.
    virtual void Begin() = 0;
    // One response of this request has left.
    void ResponseSent();
    // The websocket has closed: no further response leaves. A working
    // request ends when its work does; any other ends now. Either way its
    // after-reply work is done when it got that far: a stored message is
    // announced also when its author has gone.
    void SessionClosed();

    void IoExec(void* param) override;
    // The request's task has ended: when the session has closed meanwhile,
    // the request ends (its after-reply work done); otherwise Done replies.
    void TaskComplete(ITask* task) override { Ended(task, false); }
    void TaskFailed(ITask* task) override { Ended(task, true); }

protected:
    // NEW: created. WORKING: its task runs (rows may leave). SENDING: no
    // task; it sends rows one at a time, each once the previous one has
    // left. REPLIED: the reply has been sent; waiting for every response to
    // have left. ENDING: deletion is queued.
    enum State { NEW, WORKING, SENDING, REPLIED, ENDING };

    // The work (a task) has begun.
    void Working();
    // Rows will be sent one at a time from RowSent.
    void Sending();
    // The work has ended: true when the session closed meanwhile; the request
    // has then done its after-reply work and ended, and the caller returns.
    bool WorkEnded();
    // The task has ended (task null: the request could not start it) and
    // the client is still there: send the reply, or start further work.
    virtual void Done(ITask*, bool) {}
    // A row: a message before the reply.
    void SendRow(json_io& msg);
    // The reply: the last message of the request.
    void Reply(json_io& msg);
    // Ends without (further) reply, and without after-reply work.
    void End();

    // After the reply has left (or the session has closed after the work):
    // announcements. Runs at most once.
    virtual void AfterReply() {}
    // While sending: the last row has left; send the next one or the reply.
    virtual void RowSent() {}

    State GetState() const { return state; }
    // Null when the instance has no usable database now.
    IDatabase* Database() const;
    const char* Src() const;

    MessagesRequestContext* const context;

private:
    void SetState(State next);
    void Finish();
    void Ended(ITask* task, bool failed)
    {
        if (!WorkEnded()) Done(task, failed);
    }

    State state = NEW;
};
