// A session's unread count against the changes that are on their way while
// it is counted: a change made before the count was asked for is in the
// count, however far its distribution has got, and a post made meanwhile is
// in it exactly when the count saw its id.
#include "messages/message_content.h"
#include "messages/updates/read_update.h"
#include "messages/updates/read_update_filter.h"
#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

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
