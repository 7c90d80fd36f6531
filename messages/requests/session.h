#pragma once

#include <string>

#include "messages/requests/messages_request.h"
#include "messages/tasks/task_session.h"
#include "messages/tasks/task_user_init.h"

class MessagesTopic;

// The requests that concern the session itself rather than messages.

// Completes the user after login; replies nothing. Until it ends the
// session takes no message, so the first one sees the user's topics.
class InitSession : public MessagesRequest {
public:
    InitSession(MessagesRequestContext* context, MessagesUser* login);
    ~InitSession() override;
    void Begin() override;

private:
    void Done(ITask*, bool) override;

    MessagesUser* login;
    TaskUserInit* init = nullptr;
};

// "Session": an app object announces a user it acts for (the session
// records the user session itself) and stores the user's display name when
// it is given. The reply comes also when the name could not be stored.
class Session : public MessagesRequest {
public:
    Session(MessagesRequestContext* context, unsigned number, const char* user, const char* dn);
    ~Session() override;
    void Begin() override;

private:
    void Done(ITask*, bool) override;

    unsigned number;
    std::string user;
    std::string dn;
    bool storeDn;
    TaskSession* store = nullptr;
};

// "ReadTopics": one "Topic" per topic of the user, each sent after the
// previous one has left, then the result.
class ReadTopics : public MessagesRequest {
public:
    using MessagesRequest::MessagesRequest;
    void Begin() override;

private:
    void RowSent() override;

    MessagesTopic* next = nullptr;
};

// An error reply and nothing else: the answer to a "Post" that may not be
// made (a topic the user may not see).
class Error : public MessagesRequest {
public:
    Error(MessagesRequestContext* context, const char* mt) : MessagesRequest(context), mt(mt) {}
    void Begin() override;

private:
    const char* mt;
};
