#pragma once

#include <chrono>
#include <vector>

#include "database/pg_snapshot.h"
#include "messages/filter_expression.h"
#include "messages/readable_topics.h"
#include "messages/updates/read_update.h"
#include "web/app_updates_filter.h"

class MessagesUser;

// A count as it passes from one filter to another (a session's repeated
// request, a closed session's count kept for its return), with what it
// was counted under.
struct MessagesCountTaken {
    unsigned long long value = 0;
    unsigned long long era = 0;
    std::chrono::steady_clock::time_point at;
    unsigned long long from = 0;
    unsigned long long seen = 0;
    PgSnapshot snapshot;
};

// A session's "SetUnreadFilter", bound to its user: each change of the
// unread count under the expression is sent as "SetUnread" or "SetRead".
// The presence monitor derives from it and counts instead of sending.
class MessagesFilterRead : public MessageFilter, public AppUpdatesFilter<MessagesUpdateRead> {
public:
    // With a reader, only messages of the reader's topics count, whatever
    // the expression says (the reader outlives the filter).
    MessagesFilterRead(AppUpdatesFilters* readFilters, AppUpdatesSession* session, const char* name,
                       const char* user, const MessagesUser* reader = nullptr);
    // A filter of no session in the place of another (AppUpdatesFilterY),
    // without terms and reader.
    explicit MessagesFilterRead(const MessagesFilterRead* place);

    bool Test(MessagesUpdateRead* update) override;
    void Send(MessagesUpdateRead* update) override;
    unsigned long long Gate() override { return TopicGate(); }
    void Touched() override { GateChanged(); }

    // The unread count as the client holds it: what was counted in the
    // readable topics, moved by every change sent since. `seen` is the
    // highest message id the count's statement saw: a post at or below it
    // is in the count, one above it is not, whenever its change arrives.
    // The statement's snapshot does the same for read marks, by the
    // transaction that wrote each. Without it the count is exact unless a
    // read mark came while it was being counted, which the count may or
    // may not hold already. The era is the counts' keeper's when counted. A
    // count taken over from another filter keeps what it was counted under.
    void Counted(unsigned long long value, const MessagesReadableTopics& within, unsigned long long era = 0,
                 unsigned long long seen = 0, const PgSnapshot& snapshot = PgSnapshot());
    void Counted(const MessagesCountTaken& taken, const MessagesReadableTopics& within);
    MessagesCountTaken Taken() const { return {count, era, countedAt, countFrom, seen, snapshot}; }
    // The count asked for now holds every change of the updates made so far
    // (MessagesUpdateRead::Serial): those are passed over, wherever the
    // distribution of each has got to, instead of counted twice or taken
    // for a change the count may lack.
    void CountFrom(unsigned long long serial) { countFrom = serial; }

    // No count is coming (the database failed it): nothing is kept for one.
    // A count the filter has already stays.
    void CountFailed();
    bool IsCounted() const { return state == EXACT || state == INEXACT; }
    bool IsExact() const { return state == EXACT; }
    unsigned long long Count() const { return count; }
    const MessagesReadableTopics& CountedWithin() const { return readable; }
    unsigned long long CountedEra() const { return era; }
    // Nothing moves a count as time passes but discussions that fall quiet
    // (30 days): a count is given on only while it is young.
    std::chrono::steady_clock::time_point CountedAt() const { return countedAt; }

protected:
    // Moves the count by the update, or keeps a post that comes while
    // counting until the count tells whether it holds it. False when the
    // count holds the update already: the client must not hear of it.
    bool Apply(const MessagesUpdateRead* update);

private:
    enum State { COUNTING, COUNTING_CHANGED, EXACT, INEXACT, UNCOUNTED };

    const MessagesUser* reader;
    State state = COUNTING;
    unsigned long long count = 0;
    MessagesReadableTopics readable;
    unsigned long long era = 0;
    std::chrono::steady_clock::time_point countedAt;
    unsigned long long countFrom = 0;
    unsigned long long seen = 0;
    PgSnapshot snapshot;
    // The ids of the posts whose changes came while counting, and the
    // transactions of the read marks.
    std::vector<unsigned long long> postedWhileCounting;
    std::vector<unsigned long long> readWhileCounting;
};
