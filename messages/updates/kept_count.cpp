#include "messages/updates/kept_count.h"

#include "messages/messages_common.h"
#include "messages/tasks/task_unread_count.h"

namespace {

// A count lives for one to two of these.
const unsigned long TICK_MS = 60000;

}  // namespace

MessagesKeptCount::MessagesKeptCount(const MessagesFilterRead* from) : MessagesFilterRead(from)
{
    CopyTerms(*from);
    const MessagesReadableTopics& within = from->CountedWithin();
    if (!within.All()) {
        // Without any topic the empty OR matches nothing, as the count did.
        MessageFilter* topics = AddFilter(MessageFilter::OR);
        for (const std::string& name : within.Names()) topics->AddTopic(name.c_str());
    }
    Counted(from->Taken(), within);
    // What was still queued for the session had not reached its count yet.
    for (AppUpdate* update : from->QueuedUpdates()) Apply(static_cast<MessagesUpdateRead*>(update));
}

MessagesKeptCounts::MessagesKeptCounts(MessagesCommon* common) : common(common) {}

MessagesKeptCounts::~MessagesKeptCounts()
{
    Clear();
}

void MessagesKeptCounts::Keep(const AppUpdatesSession* session, const char* user,
                              const MessagesReadableTopics& readable)
{
    AppUpdatesUser* entry = user ? common->readFilters.FindUser(user) : nullptr;
    if (!entry) return;
    for (AppUpdatesFilterY* f = entry->First(); f && f->User() == entry; f = f->Next()) {
        if (f->Session() != session) continue;
        auto* filter = static_cast<MessagesFilterRead*>(f);
        if (!filter->IsExact() || !(filter->CountedWithin() == readable) ||
            filter->CountedEra() != Era(*filter))
            continue;
        std::string key = Key(user, filter, readable);
        // The newest count of a statement is the one kept.
        MessagesCountTaken older;
        Take(key, older);
        young[key] = new MessagesKeptCount(filter);
    }
    if (young.empty()) return;
    if (!timer) timer.reset(new ITimer(common->GetIoMux(), this));
    if (!timer->IsRunning()) timer->Start(TICK_MS);
}

std::string MessagesKeptCounts::Key(const char* user, const MessageFilter* filter,
                                    const MessagesReadableTopics& within)
{
    return TaskUnreadCount(nullptr, user, filter, 0, within).Key();
}

bool MessagesKeptCounts::Take(const std::string& key, MessagesCountTaken& taken)
{
    for (Counts* counts : {&young, &old}) {
        auto found = counts->find(key);
        if (found == counts->end()) continue;
        taken = found->second->Taken();
        delete found->second;
        counts->erase(found);
        return true;
    }
    return false;
}

void MessagesKeptCounts::Drop(Counts& counts, bool onlyNamingContent)
{
    for (auto kept = counts.begin(); kept != counts.end();) {
        if (onlyNamingContent && !kept->second->NamesContent()) {
            ++kept;
            continue;
        }
        delete kept->second;
        kept = counts.erase(kept);
    }
}

void MessagesKeptCounts::Removed()
{
    removals++;
    Clear();
}

void MessagesKeptCounts::Edited()
{
    edits++;
    Drop(young, true);
    Drop(old, true);
}

void MessagesKeptCounts::Clear()
{
    Drop(young);
    Drop(old);
    if (timer) timer->Cancel();
}

void MessagesKeptCounts::TimerOnTimeout(ITimer*)
{
    Drop(old);
    old.swap(young);
    if (!old.empty()) timer->Start(TICK_MS);
}
