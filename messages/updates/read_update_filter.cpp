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

MessagesFilterRead::MessagesFilterRead(const MessagesFilterRead* place)
    : MessageFilter(MessageFilter::AND), AppUpdatesFilter<MessagesUpdateRead>(place), reader(nullptr)
{
}

bool MessagesFilterRead::Test(MessagesUpdateRead* update)
{
    const MessageContent* message = update->Message();
    if (message->quiet) return false;
    // A change made before the count was asked for is in it already; an
    // absolute count replaces the count instead and always goes on.
    if (update->Change() && update->Serial() < countFrom) return false;
    // Most filters fail on their terms: they are tested first, the dearer look-ups after.
    if (!check(message)) return false;
    // Nobody has unread messages of their own.
    if (User() && message->author && !strcasecmp(User()->Name(), message->author)) return false;
    if (reader && !reader->FindTopic(message->topic)) return false;
    // Posts are settled by id when the count comes, read marks by their
    // transaction; an absolute count cannot be.
    if (state == COUNTING && (update->Change() == 0 || (update->Change() < 0 && !update->Xid())))
        state = COUNTING_CHANGED;
    return true;
}

void MessagesFilterRead::Counted(unsigned long long value, const MessagesReadableTopics& within,
                                 unsigned long long counted, unsigned long long seenId,
                                 const PgSnapshot& seenSnapshot)
{
    Counted({value, counted, std::chrono::steady_clock::now(), countFrom, seenId, seenSnapshot}, within);
}

void MessagesFilterRead::Counted(const MessagesCountTaken& taken, const MessagesReadableTopics& within)
{
    state = state == COUNTING ? EXACT : INEXACT;
    count = taken.value;
    readable = within;
    era = taken.era;
    countedAt = taken.at;
    countFrom = taken.from;
    seen = taken.seen;
    snapshot = taken.snapshot;
    // The client was told of these before its count, which replaces what it had.
    for (unsigned long long id : postedWhileCounting)
        if (id > seen) count++;
    // Without the snapshot nothing tells whether the count holds a mark.
    if (!snapshot.Known() && !readWhileCounting.empty()) state = INEXACT;
    for (unsigned long long xid : readWhileCounting)
        if (snapshot.Known() && !snapshot.Holds(xid) && count) count--;
    postedWhileCounting.clear();
    readWhileCounting.clear();
}

void MessagesFilterRead::CountFailed()
{
    if (IsCounted()) return;
    state = UNCOUNTED;
    std::vector<unsigned long long>().swap(postedWhileCounting);
    std::vector<unsigned long long>().swap(readWhileCounting);
}

bool MessagesFilterRead::Apply(const MessagesUpdateRead* update)
{
    int change = update->Change();
    unsigned long long id = update->Message()->id;
    if (state == UNCOUNTED) return true;
    if (!IsCounted()) {
        if (change > 0) postedWhileCounting.push_back(id);
        else if (change < 0 && update->Xid()) readWhileCounting.push_back(update->Xid());
        return true;
    }
    // One writer commits the posts, so in id order: the count's statement
    // saw every post up to the highest id it saw, and none above.
    if (change > 0 && id <= seen) return false;
    // A mark is made known only once committed; the count holds it when its snapshot saw that.
    if (change < 0 && snapshot.Holds(update->Xid())) return false;
    if (!change) count = update->Count();
    // A read of a message the count never held must not wrap it.
    else if (change < 0 && (unsigned long long)-(long long)change > count) count = 0;
    else count += change;
    return true;
}

void MessagesFilterRead::Send(MessagesUpdateRead* update)
{
    if (!Apply(update)) return;
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
