#pragma once

#include "messages/filter_expression.h"
#include "messages/updates/read_update.h"
#include "web/app_updates_filter.h"

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
