// A session's unread count against the changes that are on their way while
// it is counted: a change made before the count was asked for is in the
// count, however far its distribution has got.
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
    void Post()
    {
        auto* message = new MessageContent(0, 7, 0, "alice", "t", nullptr, "hi", nullptr);
        hub->StartUpdate(new MessagesUpdateRead(&reads, message, +1));
    }
    AppUpdatesFilters reads;
};

}  // namespace

TEST_F(read_count, a_change_made_before_the_count_was_asked_for_neither_moves_it_nor_makes_it_inexact)
{
    Post();
    // Both ask after the post was stored; its distribution has not reached them.
    MessagesFilterRead* quick = Unread("bob");
    MessagesFilterRead* slow = Unread("carol");
    quick->CountFrom(MessagesUpdateRead::NextSerial());
    slow->CountFrom(MessagesUpdateRead::NextSerial());
    // One count comes back before the post reaches its filter, the other after.
    quick->Counted(5, MessagesReadableTopics());
    Drain();
    slow->Counted(5, MessagesReadableTopics());
    EXPECT_EQ(5u, quick->Count());
    EXPECT_TRUE(slow->IsExact());
    // What is stored after the counts were asked for moves them.
    Post();
    Drain();
    EXPECT_EQ(6u, quick->Count());
    EXPECT_EQ(6u, slow->Count());
    EXPECT_TRUE(quick->IsExact());
}

TEST_F(read_count, a_change_made_while_counting_leaves_the_count_inexact)
{
    MessagesFilterRead* unread = Unread("bob");
    unread->CountFrom(MessagesUpdateRead::NextSerial());
    Post();
    Drain();
    unread->Counted(5, MessagesReadableTopics());
    EXPECT_FALSE(unread->IsExact());
}
