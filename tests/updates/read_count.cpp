// A session's unread count against the changes that are on their way while
// it is counted: a change made before the count was asked for is in the
// count, however far its distribution has got, and a post made meanwhile is
// in it exactly when the count saw its id. Also the count kept for a closed
// session's return, and the count of a user's chats as the PBX's badges take
// it. Keeping, taking and dropping counts and posts, likes and read marks
// reaching the right sessions are checked end to end (tests/e2e/messaging.cpp,
// pbx.cpp); here the orders of events that only a hand-driven loop makes.
#include "messages/message_content.h"
#include "messages/updates/kept_count.h"
#include "messages/updates/read_chat_update.h"
#include "messages/updates/read_update.h"
#include "messages/updates/read_update_filter.h"
#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

// Counts instead of sending, as the presence monitor does.
class BadgeFilter : public MessagesFilterRead {
public:
    BadgeFilter(AppUpdatesFilters* group, AppUpdatesSession* s, const char* user, std::vector<long>& badges)
        : MessagesFilterRead(group, s, nullptr, user), badges(badges)
    {
    }
    void Send(MessagesUpdateRead* u) override
    {
        badges.push_back(u->Change() ? u->Change() : 1000 + (long)u->Count());
    }
    std::vector<long>& badges;
};

class FakeCount : public ITask {
public:
    void Start(UTask* owner) override { user = owner; }
    unsigned long long Get() const { return 4; }
    void Finish(bool ok) { ok ? Complete() : Failed(); }
};

class read_count : public UpdatesTest {
protected:
    MessagesFilterRead* Unread(const char* user)
    {
        auto* unread = new MessagesFilterRead(&reads, NewSession(), "unread", user);
        unread->AddTopic("t");
        return unread;
    }
    Session* Of(MessagesFilterRead* filter) { return static_cast<Session*>(filter->Session()); }
    // A post by alice in "t"; ids rise as the one writer commits them. A
    // negative change is bob's read mark, written by transaction `xid`.
    void Post(unsigned long long id, int change = +1, unsigned long long xid = 0)
    {
        auto* message = new MessageContent(0, 7, 0, "alice", "t", nullptr, "hi", nullptr);
        message->id = id;
        hub->StartUpdate(new MessagesUpdateRead(&reads, message, change, 0, change < 0 ? "bob" : nullptr, xid));
    }
    // Every change on its way reaches the filter's client.
    void Deliver(MessagesFilterRead* filter)
    {
        for (Drain(); Ws(Of(filter))->unconfirmed; Drain()) ConfirmOne(Of(filter));
    }
    static PgSnapshot Snapshot(const char* text)
    {
        PgSnapshot snapshot;
        snapshot.Parse(text);
        return snapshot;
    }
    AppUpdatesFilters reads;
};

}  // namespace

TEST_F(read_count, a_change_made_before_the_count_was_asked_for_neither_moves_it_nor_makes_it_inexact)
{
    Post(7);
    // Both ask after the post was stored; its distribution has not reached them.
    MessagesFilterRead* quick = Unread("bob");
    MessagesFilterRead* slow = Unread("carol");
    quick->CountFrom(MessagesUpdateRead::NextSerial());
    slow->CountFrom(MessagesUpdateRead::NextSerial());
    // One count comes back before the post reaches its filter, the other after.
    quick->Counted(5, MessagesReadableTopics(), 0, 7);
    Drain();
    slow->Counted(5, MessagesReadableTopics(), 0, 7);
    EXPECT_EQ(5u, quick->Count());
    EXPECT_TRUE(slow->IsExact());
    // What is stored after the counts were asked for moves them.
    Post(8);
    Drain();
    EXPECT_EQ(6u, quick->Count());
    EXPECT_EQ(6u, slow->Count());
    EXPECT_TRUE(quick->IsExact());
}

TEST_F(read_count, a_post_made_while_counting_is_counted_once_whether_or_not_the_count_saw_it)
{
    MessagesFilterRead* saw = Unread("bob");
    MessagesFilterRead* missed = Unread("carol");
    saw->CountFrom(MessagesUpdateRead::NextSerial());
    missed->CountFrom(MessagesUpdateRead::NextSerial());
    // Post 8 reaches both clients before their counts, post 9 after.
    Post(8);
    Drain();
    Post(9);
    // bob's statement ran after both posts were committed, carol's before either.
    saw->Counted(5, MessagesReadableTopics(), 0, 9);
    missed->Counted(5, MessagesReadableTopics(), 0, 7);
    ConfirmOne(Of(saw));
    ConfirmOne(Of(missed));
    Drain();
    EXPECT_EQ(5u, saw->Count());
    EXPECT_EQ(7u, missed->Count());
    EXPECT_TRUE(saw->IsExact());
    EXPECT_TRUE(missed->IsExact());
    // bob's client, whose count holds post 9, never hears of it.
    EXPECT_EQ(1u, Ws(Of(saw))->sent.size());
    EXPECT_EQ(2u, Ws(Of(missed))->sent.size());
}

TEST_F(read_count, read_marks_are_settled_by_the_snapshot_of_the_count_and_without_one_leave_it_inexact)
{
    // The count's statement saw transactions below 100 and 102, not 101
    // (running) nor any from 103 on.
    PgSnapshot seen = Snapshot("100:103:101");
    MessagesFilterRead* unread = Unread("bob");
    unread->CountFrom(MessagesUpdateRead::NextSerial());
    // Two marks reach the client before its count, two after it.
    Post(7, -1, 99);
    Post(6, -1, 101);
    Deliver(unread);
    unread->Counted(5, MessagesReadableTopics(), 0, 7, seen);
    EXPECT_TRUE(unread->IsExact());
    EXPECT_EQ(4u, unread->Count());
    Post(5, -1, 102);
    Post(4, -1, 103);
    Deliver(unread);
    EXPECT_EQ(3u, unread->Count());

    // Snapshots the service cannot read are unknown: they hold nothing.
    for (const char* text : {"", "100", "100:", "100:103", "103:100:", "100:103:1x", "a:b:", "0:0:", "100:103:,,"})
        EXPECT_FALSE(Snapshot(text).Holds(99)) << text;
    EXPECT_TRUE(Snapshot("100:103:").Holds(102));
    EXPECT_FALSE(seen.Holds(0));

    // A mark without its transaction, or a count without its snapshot.
    for (unsigned long long xid : {0ull, 99ull}) {
        MessagesFilterRead* blind = Unread("bob");
        blind->CountFrom(MessagesUpdateRead::NextSerial());
        Post(7, -1, xid);
        Drain();
        blind->Counted(5, MessagesReadableTopics(), 0, 7);
        EXPECT_FALSE(blind->IsExact()) << xid;
    }
}

TEST_F(read_count, a_kept_count_takes_in_the_changes_still_queued_for_the_closed_session)
{
    MessagesFilterRead* unread = Unread("bob");
    Session* bob = Of(unread);
    unread->Counted(5, MessagesReadableTopics());
    unsigned long long id = 10;
    for (int change : {+1, +1, +1, -1}) {
        auto* message = new MessageContent(0, 7, 0, "alice", "t", nullptr, "hi", nullptr);
        message->id = id++;
        hub->StartUpdate(new MessagesUpdateRead(&reads, message, change));
    }
    Drain();
    // The first change went out and waits for its send result; the others wait behind it.
    ASSERT_EQ(3u, unread->QueuedCount());
    EXPECT_EQ(6u, unread->Count());
    Close(bob, false);
    MessagesKeptCount kept(unread);
    EXPECT_EQ(7u, kept.Count());
    delete bob;
}

TEST_F(read_count, a_chat_count_reaches_that_users_read_filters_once_counted_and_never_when_it_fails)
{
    Session* pbx = NewSession();
    Session* bob = NewSession();
    std::vector<long> badges, others;
    // Bob's chat badge as the presence monitor registers it, his own filter
    // on his personal topic, and another user's badge.
    BadgeFilter* chat = new BadgeFilter(&reads, pbx, "bob", badges);
    chat->AddTopic("bob");
    chat->AddNotification("");
    (new MessagesFilterRead(&reads, bob, "mine", "bob"))->AddTopic("bob");
    (new BadgeFilter(&reads, pbx, "carol", others))->AddTopic("bob");
    for (bool ok : {true, false}) {
        MessagesUpdateReadChat* update = new MessagesUpdateReadChat(&reads, "bob");
        FakeCount* count = new FakeCount;
        update->Start(hub, count);
        char sql[256];
        update->WriteFilters(sql, sizeof(sql));
        EXPECT_NE(std::string::npos, std::string(sql).find("sip='bob'"));
        Drain();
        EXPECT_EQ(ok ? 0u : 1u, badges.size());
        count->Finish(ok);
        Drain();
    }
    EXPECT_EQ(std::vector<long>{1004}, badges);
    EXPECT_TRUE(others.empty());
    // The count is no change: a session's own filter gets it without an "mt".
    ASSERT_EQ(1u, Ws(bob)->sent.size());
    EXPECT_EQ((std::map<std::string, std::string>{{"count", "4"}, {"src", "mine"}}), Members(Ws(bob)->sent[0]));
}
