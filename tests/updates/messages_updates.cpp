#include "messages/message_content.h"
#include "messages/updates/message_update_filter.h"
#include "messages/updates/read_update_filter.h"
#include "messages/updates/message_update.h"
#include "messages/updates/read_chat_update.h"
#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

// A message that reports when the last update holding it lets it go.
class Content : public MessageContent {
public:
    Content(Strings& gone, const char* author, const char* topic, unsigned long long addsTo = 0)
        : MessageContent(0, addsTo, 0, author, topic, "Topic", "hi \"there\"", nullptr), gone(gone)
    {
    }
    ~Content() override { gone.push_back("content"); }
    Strings& gone;
};

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

class MessagesUpdatesTest : public UpdatesTest {
protected:
    void Watch(Session* s, const char* name, const char* topic, bool liked = false, unsigned long long addsTo = 0)
    {
        (new MessagesFilter(&messages, s, name, liked, addsTo))->AddTopic(topic);
    }
    void Unread(Session* s, const char* name, const char* user, const char* topic)
    {
        (new MessagesFilterRead(&reads, s, name, user))->AddTopic(topic);
    }
    void Post(Session* s, const char* src, MessageContent* content, bool liked = false)
    {
        (new MessagesUpdateMessage(&messages, s->SessionId(), src, 0, content, liked))->Start(hub, nullptr);
    }
    // The updates sent to a session as "src mt", all confirmed.
    Strings Got(Session* s)
    {
        Ws(s)->ConfirmAll();
        Strings got;
        for (const std::string& text : Ws(s)->sent) {
            auto m = Members(text);
            got.push_back(m["src"] + (m.count("mt") ? " " + m["mt"] : ""));
        }
        Ws(s)->sent.clear();
        return got;
    }

    AppUpdatesFilters messages, reads;
};

}  // namespace

TEST_F(MessagesUpdatesTest, a_post_spares_the_posting_filter_reaches_discussion_watchers_and_likes_stay_apart)
{
    Session* poster = NewSession();
    Session* other = NewSession();
    Watch(poster, "X", "t1");
    Watch(poster, "Y", "t1");
    Watch(other, "X", "t1");
    Watch(other, "D", "elsewhere", false, 7);
    Watch(other, "L", "t1", true);
    Content* post = new Content(gone, "alice", "T1", 7);
    post->id = 5;
    Post(poster, "X", post);
    Drain();
    auto add = Members(Ws(poster)->sent.at(0));
    EXPECT_EQ("true", add["update"]);
    EXPECT_EQ(R"({"id":5,"addsTo":7,"repliesTo":0,"author":"alice","topic":"T1","tdn":"Topic",)"
              R"("text":"hi \"there\"","timestamp":0})",
              add["msg"]);
    EXPECT_EQ(Strings{"Y Add"}, Got(poster));
    EXPECT_EQ(Strings({"X Add", "D Add"}), Got(other));
    EXPECT_EQ(Strings{"content"}, gone);
    // A like in another discussion reaches only the liked filter.
    Post(poster, nullptr, new Content(gone, "bob", "t1", 9), true);
    Drain();
    EXPECT_TRUE(Got(poster).empty());
    EXPECT_EQ(Strings{"L Add"}, Got(other));
}

TEST_F(MessagesUpdatesTest, read_changes_skip_the_authors_own_filters_and_share_one_message)
{
    Session* alice = NewSession();
    Session* bob = NewSession();
    Session* phone = NewSession();
    Unread(alice, "R", "alice", "t1");
    Unread(bob, "R", "bob", "t1");
    Unread(phone, "R2", "bob", "t1");
    Watch(bob, "M", "t1");
    Content* post = new Content(gone, "Alice", "t1");
    Post(alice, nullptr, post);
    hub->StartUpdate(new MessagesUpdateRead(&reads, post, 1));
    Drain();
    EXPECT_TRUE(Got(alice).empty());
    EXPECT_EQ(Strings{"R2 SetUnread"}, Got(phone));
    // Bob's change waits behind the "Add" in flight and keeps the message alive.
    EXPECT_TRUE(gone.empty());
    EXPECT_EQ(Strings({"M Add", "R SetUnread"}), Got(bob));
    EXPECT_EQ(Strings{"content"}, gone);
    // Read on the phone: only Bob's filters hear of it.
    hub->StartUpdate(new MessagesUpdateRead(&reads, new Content(gone, "Alice", "t1"), -1, 0, "bob"));
    Drain();
    EXPECT_EQ(Strings{"R SetRead"}, Got(bob));
    EXPECT_EQ(Strings{"R2 SetRead"}, Got(phone));
    EXPECT_TRUE(Got(alice).empty());
}

TEST_F(MessagesUpdatesTest, a_chat_count_reaches_that_users_read_filters_once_counted_and_never_when_it_fails)
{
    Session* pbx = NewSession();
    Session* bob = NewSession();
    std::vector<long> badges, others;
    // Bob's chat badge as the presence monitor registers it, his own filter
    // on his personal topic, and another user's badge.
    BadgeFilter* chat = new BadgeFilter(&reads, pbx, "bob", badges);
    chat->AddTopic("bob");
    chat->AddNotification("");
    Unread(bob, "mine", "bob", "bob");
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
    // The count is no change: a session's own filter gets a bare {"src"}.
    EXPECT_EQ(Strings{"mine"}, Got(bob));
}
