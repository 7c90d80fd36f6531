#include "messages/updates/message_update_filter.h"

#include <string.h>
#include <strings.h>

#include <vector>

#include "json/json_io.h"
#include "messages/message_content.h"
#include "messages/messages_user.h"
#include "web/app_updates_session.h"

MessagesFilter::MessagesFilter(AppUpdatesFilters* messageFilters, AppUpdatesSession* session, const char* name,
                               bool liked, unsigned long long addsTo, const MessagesUser* reader)
    : MessageFilter(MessageFilter::AND),
      AppUpdatesFilter<MessagesUpdateMessage>(messageFilters, session, name, nullptr), liked(liked), addsTo(addsTo), reader(reader)
{
}

bool MessagesFilter::Test(MessagesUpdateMessage* update)
{
    // The originating request answers for itself; echoing the post on the
    // filter it named would show it twice.
    if (update->Src() && Name() && update->SessionId() == Session()->SessionId() && !strcmp(Name(), update->Src()))
        return false;
    const MessageContent* message = update->Message();
    // Most filters fail on their terms: they are tested before the topic look-up.
    bool matches = (addsTo && addsTo == message->addsTo) || (liked == update->Liked() && check(message));
    return matches && (!reader || reader->FindTopic(message->topic));
}

namespace {

size_t Length(const char* s)
{
    return s ? strlen(s) : 0;
}

}  // namespace

void MessagesFilter::Send(MessagesUpdateMessage* update)
{
    const MessageContent* m = update->Message();
    // Every string may grow sixfold by escaping; the rest is names and numbers.
    size_t strings = Length(Name()) + Length(m->author) + Length(m->topic) + Length(m->tdn) + Length(m->text) +
                     Length(update->Dn());
    std::vector<char> buffer(6 * strings + 512);
    char numbers[4 * 24];
    char* tmp = numbers;
    json_io msg(buffer.data());
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "src", Name());
    msg.add_string(base, "mt", "Add");
    msg.add_bool(base, "update", true);
    unsigned short o = msg.add_object(base, "msg");
    msg.add_ulong64(o, "id", m->id, tmp);
    msg.add_ulong64(o, "addsTo", m->addsTo, tmp);
    msg.add_ulong64(o, "repliesTo", m->repliesTo, tmp);
    msg.add_string(o, "author", m->author);
    msg.add_string(o, "topic", m->topic);
    msg.add_string(o, "tdn", m->tdn);
    msg.add_string(o, "text", m->text);
    msg.add_ulong64(o, "timestamp", update->Timestamp(), tmp);
    msg.add_string(o, "dn", update->Dn());
    Session()->SendUpdate(msg, buffer.data());
}
