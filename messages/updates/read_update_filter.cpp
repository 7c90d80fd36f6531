#include "messages/updates/read_update_filter.h"

#include <string.h>
#include <strings.h>

#include <vector>

#include "json/json_io.h"
#include "messages/message_content.h"
#include "messages/messages_user.h"
#include "web/app_updates_session.h"

namespace {

size_t Length(const char* s)
{
    return s ? strlen(s) : 0;
}

}  // namespace

MessagesFilterRead::MessagesFilterRead(AppUpdatesFilters* readFilters, AppUpdatesSession* session, const char* name,
                                       const char* user, const MessagesUser* reader)
    : MessageFilter(MessageFilter::AND), AppUpdatesFilter<MessagesUpdateRead>(readFilters, session, name, user),
      reader(reader)
{
}

bool MessagesFilterRead::Test(MessagesUpdateRead* update)
{
    const MessageContent* message = update->Message();
    // Nobody has unread messages of their own.
    if (User() && message->author && !strcasecmp(User()->Name(), message->author)) return false;
    if (reader && !reader->FindTopic(message->topic)) return false;
    return check(message);
}

void MessagesFilterRead::Send(MessagesUpdateRead* update)
{
    std::vector<char> buffer(6 * Length(Name()) + 64);
    char number[16];
    char* tmp = number;
    json_io msg(buffer.data());
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "src", Name());
    if (update->Change() > 0) msg.add_string(base, "mt", "SetUnread");
    else if (update->Change() < 0) msg.add_string(base, "mt", "SetRead");
    // A count that replaces the client's: the user's unread chat messages.
    else msg.add_unsigned(base, "count", update->Count(), tmp);
    Session()->SendUpdate(msg, buffer.data());
}
