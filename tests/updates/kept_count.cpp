// A closed session's unread count, kept for its return. Keeping, taking and
// dropping are checked end to end (tests/e2e/messaging.cpp); what the
// distribution still held for the session is checked here.
#include "messages/updates/kept_count.h"

#include "messages/message_content.h"
#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

class kept_count : public UpdatesTest {
protected:
    AppUpdatesFilters reads;
};

}  // namespace

TEST_F(kept_count, a_kept_count_takes_in_the_changes_still_queued_for_the_closed_session)
{
    Session* bob = NewSession();
    auto* unread = new MessagesFilterRead(&reads, bob, "unread", "bob");
    unread->AddTopic("t");
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
