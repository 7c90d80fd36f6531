#pragma once

#include "messages/readable_topics.h"
#include "messages/requests/messages_request.h"

class MessagesFilterRead;
class TaskSetReadGetContent;
class TaskUnreadCount;

// "SetRead": marks a message read for the session's user. Once the reply
// has left, that user's unread counts that match the message go down by one.
class SetRead : public MessagesRequest {
public:
    SetRead(MessagesRequestContext* context, unsigned long long id, const MessagesReadableTopics& readable);
    ~SetRead() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;
    void AfterReply() override;
    bool Marked() const;

    unsigned long long id;
    MessagesReadableTopics readable;
    TaskSetReadGetContent* mark = nullptr;
};

// "SetUnreadFilter": the number of the user's unread messages under the
// filter that the session has just registered for later changes of it.
class SetUnreadFilter : public MessagesRequest {
public:
    // The filter is the session's; it outlives the request.
    SetUnreadFilter(MessagesRequestContext* context, MessagesFilterRead* filter, const MessagesReadableTopics& readable);
    ~SetUnreadFilter() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

    MessagesFilterRead* filter;
    MessagesReadableTopics readable;
    TaskUnreadCount* count = nullptr;
    // Of the kept counts, when the count began.
    unsigned long long era = 0;
};
