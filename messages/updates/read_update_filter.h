#pragma once

#include "messages/filter_expression.h"
#include "messages/updates/read_update.h"
#include "web/app_updates_filter.h"

class MessagesUser;

// A session's "SetUnreadFilter", bound to its user: each change of the
// unread count under the expression is sent as "SetUnread" or "SetRead".
// The presence monitor derives from it and counts instead of sending.
class MessagesFilterRead : public MessageFilter, public AppUpdatesFilter<MessagesUpdateRead> {
public:
    // With a reader, only messages of the reader's topics count, whatever
    // the expression says (the reader outlives the filter).
    MessagesFilterRead(AppUpdatesFilters* readFilters, AppUpdatesSession* session, const char* name,
                       const char* user, const MessagesUser* reader = nullptr);

    bool Test(MessagesUpdateRead* update) override;
    void Send(MessagesUpdateRead* update) override;

private:
    const MessagesUser* reader;
};
