#pragma once

#include "messages/messages_request.h"
#include "messages/task_session.h"
#include "messages/task_user_init.h"

class MessagesTopic;
class TaskDatabaseInit;
class TaskDatabaseReset;

// The requests that concern the session itself rather than messages.

// Completes the user after login; replies nothing. Until it ends the
// session takes no message, so the first one sees the user's topics.
class InitSession : public TaskUserInit, public MessagesRequest {
public:
    explicit InitSession(MessagesSession* session);
    void Begin() override;

private:
    void TaskComplete(ITask*) override;
    void TaskFailed(ITask*) override;
};

// "Session": an app object announces a user it acts for. The reply comes
// also when the display name could not be stored.
class Session : public TaskSession, public MessagesRequest {
public:
    Session(MessagesSession* session, unsigned number, const char* user, const char* dn);
    ~Session() override;
    void Begin() override;

private:
    void TaskComplete(ITask*) override;
    void TaskFailed(ITask*) override;
    void Reply();

    unsigned number;
    char* userName;
    bool storeDn;
};

// "ReadTopics": one "Topic" per topic of the user, each sent after the
// previous one has left, then the result.
class ReadTopics : public MessagesRequest {
public:
    explicit ReadTopics(MessagesSession* session);
    void Begin() override;
    void ResponseSent() override;

private:
    void TaskComplete(ITask*) override {}
    void TaskFailed(ITask*) override {}
    void SendNext();

    MessagesTopic* next = nullptr;
};

// The answer to a "Post" that may not be made (a topic the user may not
// see): an error reply, nothing stored.
class Error : public MessagesRequest {
public:
    explicit Error(MessagesSession* session) : MessagesRequest(session) {}
    void Begin() override;

private:
    void TaskComplete(ITask*) override {}
    void TaskFailed(ITask*) override {}
};

// "DatabaseReset": drops the tables and declares them again, empty. The
// tables are declared again also when the drop fails or the client has
// gone; the reply waits for that.
class DatabaseReset : public MessagesRequest {
public:
    explicit DatabaseReset(MessagesSession* session);
    ~DatabaseReset() override;
    void Begin() override;

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void Ended(ITask* task);

    TaskDatabaseReset* reset = nullptr;
    TaskDatabaseInit* init = nullptr;
};
