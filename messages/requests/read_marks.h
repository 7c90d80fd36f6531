#pragma once

#include <string>

#include "messages/readable_topics.h"
#include "messages/requests/messages_request.h"
#include "messages/updates/read_update_filter.h"

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
    // A session that asks again for the count its filter of the same name
    // holds gets it from that filter, which stays in its place: what the
    // filter has sent is in its count, and what waits for the session goes
    // after the answer. Only an exact count of the same statement, not moved
    // by edits or deletions since (the kept counts' era), and counted less
    // than ten minutes ago: discussions that fall quiet (30 days) move a
    // count without an update.
    static bool Repeats(MessagesRequestContext* context, const MessagesFilterRead* old, const MessageFilter& asked,
                        const MessagesReadableTopics& readable);

    // The filter is the session's; it outlives the request.
    SetUnreadFilter(MessagesRequestContext* context, MessagesFilterRead* filter, const MessagesReadableTopics& readable,
                    bool repeated);
    ~SetUnreadFilter() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

    MessagesFilterRead* filter;
    MessagesReadableTopics readable;
    bool repeated;
    TaskUnreadCount* count = nullptr;
    // Of the kept counts, when the count began.
    unsigned long long era = 0;
};
