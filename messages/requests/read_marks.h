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
    // A count that the session's filter of the same name holds, taken
    // before the new filter replaces it: a client that asks again for the
    // same count gets it without the database.
    struct Held {
        bool valid = false;
        std::string key;
        MessagesCountTaken count;
    };
    // Only an exact count with nothing queued for it, and not while an update
    // of its group is half distributed: that one could reach the old filter
    // and not the new one, which takes another place in the list, or both.
    // Updates not yet begun reach the new filter, which then counts afresh.
    // A count is held on for ten minutes from its counting: discussions that
    // fall quiet meanwhile (30 days) would move it without an update.
    static Held Hold(MessagesRequestContext* context, const MessagesFilterRead* old);

    // The filter is the session's; it outlives the request.
    SetUnreadFilter(MessagesRequestContext* context, MessagesFilterRead* filter, const MessagesReadableTopics& readable,
                    const Held& held);
    ~SetUnreadFilter() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

    MessagesFilterRead* filter;
    MessagesReadableTopics readable;
    Held held;
    TaskUnreadCount* count = nullptr;
    // Of the kept counts, when the count began.
    unsigned long long era = 0;
};
