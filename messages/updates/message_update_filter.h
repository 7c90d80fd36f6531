#pragma once

#include "messages/filter_expression.h"
#include "messages/updates/message_update.h"
#include "web/app_updates_filter.h"

class MessagesUser;

// A session's "SetFilter": new messages matching its expression are sent
// to the client as "Add" updates under the filter's name. The expression
// starts empty (AND); the session fills it from the request.
class MessagesFilter : public MessageFilter, public AppUpdatesFilter<MessagesUpdateMessage> {
public:
    // addsTo: a discussion whose messages always pass, 0 for none. With a
    // reader, only messages of the reader's topics pass, whatever the
    // expression says (the reader outlives the filter).
    MessagesFilter(AppUpdatesFilters* messageFilters, AppUpdatesSession* session, const char* name, bool liked,
                   unsigned long long addsTo, const MessagesUser* reader = nullptr);

    bool Test(MessagesUpdateMessage* update) override;
    void Send(MessagesUpdateMessage* update) override;
    // A discussion's own filter takes its messages whatever its terms say.
    unsigned long long Gate() override { return addsTo ? ~0ULL : TopicGate(); }
    void Touched() override { GateChanged(); }

    bool Liked() const { return liked; }
    unsigned long long AddsTo() const { return addsTo; }

private:
    bool liked;
    unsigned long long addsTo;
    const MessagesUser* reader;
};
