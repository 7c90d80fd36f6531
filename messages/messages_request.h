#pragma once

#include "runtime/iomux.h"
#include "runtime/task.h"

class IDatabase;
class MessagesSession;
class json_io;

// One client message being handled by its session: the session's current
// request until it ends. A request runs its database work as its own task
// owner, so that completion and failure both end in a reply; it sends the
// reply through the session, does its after-reply work once the reply has
// left, and then ends, which lets the session's next message in.
class MessagesRequest : public UTask, public UIoExec {
public:
    explicit MessagesRequest(MessagesSession* session);
    MessagesRequest(const MessagesRequest&) = delete;
    MessagesRequest& operator=(const MessagesRequest&) = delete;
    ~MessagesRequest() override = default;

    // Starts the work. May end the request (and delete it) before returning
    // only by way of a later loop pass.
    virtual void Begin() = 0;
    // A response of this request has been sent. The default ends the
    // request after its last reply once no response is in flight.
    virtual void ResponseSent();
    // The websocket has closed. A request that is working (a task of its
    // own running) ends when the work does, sending nothing; any other is
    // waiting for send results that will not come, and ends now.
    virtual void SessionClosed();

protected:
    // Sends through the session and counts the reply; final marks the last.
    void Send(json_io& msg, bool final = true);
    // Deletes this request (and a closed session); return at once.
    void End();
    // The work has ended: true when the session closed meanwhile, in which
    // case the request has ended without a reply.
    bool WorkEnded();
    // The instance's database now; null once it is gone.
    IDatabase* Database() const;
    // For work that cannot start: TaskFailed(nullptr) on a later loop pass.
    void FailLater();
    void IoExec(void*) override { TaskFailed(nullptr); }
    void TaskComplete(ITask*) override = 0;
    void TaskFailed(ITask*) override = 0;

    MessagesSession* const session;
    bool working = false;
    bool replied = false;
};
