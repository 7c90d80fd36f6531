#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "messages/updates/read_update_filter.h"
#include "runtime/timer.h"

class AppUpdatesSession;
class MessagesCommon;

// The unread count of a session that has closed, kept current in the
// read-state distribution in the place of the session's filter.
class MessagesKeptCount : public MessagesFilterRead {
public:
    // The filter's expression and count, limited to the readable topics
    // (those it was counted within).
    explicit MessagesKeptCount(const MessagesFilterRead* from);
    void Send(MessagesUpdateRead* update) override { Apply(update); }
};

// Unread counts of closed sessions, by the statement that counted them.
// People come back: a page is reloaded, or a webserver restart reconnects
// everybody at once, and each client asks for the count it had a moment
// ago. Counting again is what such a storm would spend its time on.
// A count is kept for one to two minutes and given out once.
class MessagesKeptCounts : public UTimer {
public:
    explicit MessagesKeptCounts(MessagesCommon* common);
    MessagesKeptCounts(const MessagesKeptCounts&) = delete;
    MessagesKeptCounts& operator=(const MessagesKeptCounts&) = delete;
    ~MessagesKeptCounts() override;

    // The exact counts of the session's unread filters for `user`, whose
    // readable topics are still those they were counted within. Only for a
    // session that receives no more updates.
    void Keep(const AppUpdatesSession* session, const char* user, const MessagesReadableTopics& readable);
    // The statement that counts the filter within the topics: what a count is kept and taken under.
    static std::string Key(const char* user, const MessageFilter* filter, const MessagesReadableTopics& within);
    // The count kept under the statement goes to the caller.
    bool Take(const std::string& key, MessagesCountTaken& taken);

    // Deletions and edits move counts without an update, so the counts that
    // they may have moved are neither kept nor given out: a deletion may
    // move any count, an edit those whose filter names tags or
    // notifications. A count is kept only if counted in the current era of
    // its filter.
    void Removed();
    void Edited();
    unsigned long long Era(const MessageFilter& filter) const
    {
        return filter.NamesContent() ? removals + edits : removals;
    }

    void TimerOnTimeout(ITimer* timer) override;

private:
    using Counts = std::unordered_map<std::string, MessagesKeptCount*>;
    static void Drop(Counts& counts, bool onlyNamingContent = false);
    void Clear();

    MessagesCommon* common;
    std::unique_ptr<ITimer> timer;
    // Each tick the old ones go and the young ones become old.
    Counts young;
    Counts old;
    unsigned long long removals = 0;
    unsigned long long edits = 0;
};
