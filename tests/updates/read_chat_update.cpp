// The unread count of a user's chats, as the PBX's badges take it. Posts, likes
// and read marks reaching the right sessions are checked end to end
// (tests/e2e/messaging.cpp, pbx.cpp); a count that fails only here.
#include "messages/updates/read_chat_update.h"
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

class read_chat_update : public UpdatesTest {
protected:
    AppUpdatesFilters reads;
};

}  // namespace

TEST_F(read_chat_update, a_chat_count_reaches_that_users_read_filters_once_counted_and_never_when_it_fails)
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
