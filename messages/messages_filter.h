#pragma once

#include "messages/message_filter.h"
#include "messages/messages_update.h"
#include "web/app_updates_filter.h"

// A session's "SetFilter": new messages matching its expression are sent
// to the client as "Add" updates under the filter's name. The expression
// starts empty (AND); the session fills it from the request.
class MessagesFilter : public MessageFilter, public AppUpdatesFilter<MessagesUpdateMessage> {
public:
    // addsTo: a discussion whose messages always pass, 0 for none.
    MessagesFilter(AppUpdatesFilters* messageFilters, AppUpdatesSession* session, const char* name, bool liked,
                   unsigned long long addsTo);

    bool Test(MessagesUpdateMessage* update) override;
    void Send(MessagesUpdateMessage* update) override;

    bool Liked() const { return liked; }
    unsigned long long AddsTo() const { return addsTo; }

private:
    bool liked;
    unsigned long long addsTo;
};

// A session's "SetUnreadFilter", bound to its user: each change of the
// unread count under the expression is sent as "SetUnread" or "SetRead".
// The presence monitor derives from it and counts instead of sending.
class MessagesFilterRead : public MessageFilter, public AppUpdatesFilter<MessagesUpdateRead> {
public:
    MessagesFilterRead(AppUpdatesFilters* readFilters, AppUpdatesSession* session, const char* name,
                       const char* user);

    bool Test(MessagesUpdateRead* update) override;
    void Send(MessagesUpdateRead* update) override;
};
