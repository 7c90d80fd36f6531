#pragma once

#include "messages/requests/messages_request.h"

class MessagesReply;
class TaskReadMessages;

// The reading requests: every row of the page goes to the client as an
// "Add", then the reply ("DiscussionResult", "SetFilterResult",
// "GetMoreResult") follows with no further members, also after a database
// error. The rows leave one after another without waiting for each other;
// the request ends once the reply and every row have left.
class MessagesReadRequest : public MessagesRequest {
public:
    // Takes over the read task; resultMt is a literal.
    MessagesReadRequest(MessagesRequestContext* context, const char* resultMt, TaskReadMessages* read);
    ~MessagesReadRequest() override;
    void Begin() override;

protected:
    // Members of the reply beyond "mt" and "src".
    virtual void ReplyMembers(MessagesReply&) {}
    unsigned Rows() const { return rows; }

private:
    void TaskProgress(ITask* task, unsigned progress) override;
    void Done(ITask* task, bool failed) override;

    const char* resultMt;
    TaskReadMessages* read;
    unsigned rows = 0;
};

// "Discussion": the messages of one discussion.
class Discussion : public MessagesReadRequest {
public:
    Discussion(MessagesRequestContext* context, TaskReadMessages* read)
        : MessagesReadRequest(context, "DiscussionResult", read)
    {
    }
};

// "SetFilter": the first page under the filter that the session has just
// registered under the request's "src" for live updates.
class SetFilter : public MessagesReadRequest {
public:
    SetFilter(MessagesRequestContext* context, TaskReadMessages* read)
        : MessagesReadRequest(context, "SetFilterResult", read)
    {
    }
};

// "GetMore": a further page under the filter registered under the same "src".
class GetMore : public MessagesReadRequest {
public:
    GetMore(MessagesRequestContext* context, TaskReadMessages* read)
        : MessagesReadRequest(context, "GetMoreResult", read)
    {
    }
};
