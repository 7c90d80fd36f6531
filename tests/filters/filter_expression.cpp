// Message filters: the SQL they write selects on the real schema what their
// in-memory match selects, and it stays within the room it is given.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "messages/message_content.h"
#include "messages/filter_expression.h"
#include "messages/schema/task_database_init.h"
#include "tests/schema/schema_test.h"

namespace {

// Writes into a heap room of exactly `room` bytes, so that the address
// sanitizer catches a write past it.
std::string Sql(const MessageFilter& f, int room = 10000)
{
    std::vector<char> buf(room);
    int n = f.WriteFilters(buf.data(), room);
    EXPECT_EQ(strlen(buf.data()), (size_t)n);
    return std::string(buf.data(), n);
}

// Five stored messages on the real schema, and the same messages in memory.
class filter_expression : public SchemaTest {
protected:
    void SetUp() override
    {
        SchemaTest::SetUp();
        Connect();
        TaskDatabaseInit init(db);
        ASSERT_EQ(std::vector<std::string>{"complete"}, Run(init));
        ASSERT_TRUE(pg.Query("INSERT INTO objects (sip) VALUES ('alice'), ('bob'), ('t1'), ('t2'), ('t''3');"
                             "INSERT INTO tags (name) VALUES ('urgent'), ('later');"
                             "INSERT INTO discussions (topic) VALUES (3), (4), (5);"
                             "INSERT INTO messages (adds_to, replies_to, author, time) VALUES"
                             " (1, NULL, 1, 1), (1, 1, 2, 2), (2, NULL, 1, 3), (2, 3, 2, 4), (3, NULL, 2, 5);"
                             "INSERT INTO message_notifications (message, object) VALUES (1, 2), (3, 1), (5, 2);"
                             "INSERT INTO message_tags (message, tag) VALUES (1, 1), (2, 2), (3, 1), (3, 2)"))
            << pg.Error();
        Add(1, "alice", "t1", "bob", {"urgent"});
        Add(2, "bob", "t1", nullptr, {"later"});
        Add(3, "alice", "t2", "alice", {"urgent", "later"});
        Add(4, "bob", "t2", nullptr, {});
        Add(5, "bob", "t'3", "bob", {});
    }
    void Add(unsigned long long id, const char* author, const char* topic, const char* notifies,
             std::vector<const char*> tags)
    {
        stored.push_back(std::make_unique<MessageContent>(0, 0, 0, author, topic, nullptr, "", nullptr));
        stored.back()->id = id;
        stored.back()->notifications.Add(notifies);
        for (const char* t : tags) stored.back()->tags.Add(t);
    }
    // Ids of the stored messages that the condition selects, as "1,3".
    std::string Selected(const std::string& condition)
    {
        std::string ids;
        EXPECT_TRUE(pg.Query("SELECT string_agg(m.id::text, ',' ORDER BY m.id) FROM messages m"
                             " JOIN objects AS author ON m.author = author.id"
                             " JOIN discussions AS discussion ON m.adds_to=discussion.id WHERE (" + condition + ")",
                             &ids))
            << pg.Error() << "\n" << condition;
        return ids;
    }
    // Checks the full text and, where there is one, the shorter form against
    // the in-memory match, and returns the match.
    std::string Agreeing(const MessageFilter& f)
    {
        std::string matched;
        for (auto& m : stored) {
            if (!f.check(m.get())) continue;
            matched += (matched.empty() ? "" : ",") + std::to_string(m->id);
            // The distribution passes over a filter whose gate lacks the message's topic.
            EXPECT_TRUE(f.TopicGate() & MessageFilter::TopicBit(m->topicKey)) << m->id;
        }
        std::string full = Sql(f), brief = Sql(f, full.size() + 1);
        EXPECT_EQ(matched, Selected(full)) << full;
        if (brief != "FALSE" && !brief.empty()) {
            EXPECT_EQ(matched, Selected(brief)) << brief;
        }
        return matched;
    }

    std::vector<std::unique_ptr<MessageContent>> stored;
};

}  // namespace

TEST_F(filter_expression, database_selects_what_the_in_memory_match_selects)
{
    EXPECT_EQ("1,2,3,4,5", Agreeing(MessageFilter(MessageFilter::AND)));
    EXPECT_EQ("", Agreeing(MessageFilter(MessageFilter::OR)));

    MessageFilter example(MessageFilter::AND);
    example.AddAuthor("alice");
    MessageFilter* topics = example.AddFilter(MessageFilter::OR);
    topics->AddTopic("t1");
    topics->AddTopic("t2");
    topics->AddTopic("t'3");
    EXPECT_EQ("1,3", Agreeing(example));

    MessageFilter anyone(MessageFilter::OR);
    anyone.AddTag("later");
    anyone.AddNotification("");
    anyone.AddNotification("nobody");
    // Quotes in every kind of term are doubled, or the statement would fail.
    anyone.AddNotification("n'1");
    anyone.AddAuthor("O'Brien");
    anyone.AddTag("it's");
    EXPECT_EQ("1,2,3,5", Agreeing(anyone));

    MessageFilter pairs(MessageFilter::OR);
    MessageFilter* first = pairs.AddFilter(MessageFilter::AND);
    first->AddTag("urgent");
    first->AddNotification("alice");
    MessageFilter* second = pairs.AddFilter(MessageFilter::AND);
    second->AddAuthor("bob");
    second->AddNotification("bob");
    second->AddTopic("t'3");
    EXPECT_EQ("3,5", Agreeing(pairs));
}

TEST_F(filter_expression, nested_groups_without_terms_select_like_the_in_memory_match)
{
    // A session without topics besides its personal one.
    MessageFilter noTopics(MessageFilter::AND);
    noTopics.AddTag("urgent");
    noTopics.AddFilter(MessageFilter::OR);
    EXPECT_EQ("", Agreeing(noTopics));

    MessageFilter bob(MessageFilter::AND);
    bob.AddFilter(MessageFilter::AND)->AddFilter(MessageFilter::AND);
    bob.AddAuthor("bob");
    EXPECT_EQ("2,4,5", Agreeing(bob));

    MessageFilter either(MessageFilter::OR);
    either.AddFilter(MessageFilter::OR);
    either.AddTopic("t2");
    EXPECT_EQ("3,4", Agreeing(either));
}

TEST_F(filter_expression, text_that_does_not_fit_gets_in_lists_then_selects_nothing_and_stays_in_its_room)
{
    MessageFilter f(MessageFilter::AND);
    f.AddTag("urgent");
    MessageFilter* group = f.AddFilter(MessageFilter::OR);
    group->AddTopic("t1");
    group->AddTopic("t'3");
    group->AddAuthor("alice");
    group->AddAuthor("bob");
    group->AddNotification("bob");
    group->AddNotification("");
    group->AddFilter(MessageFilter::AND)->AddAuthor("bob");
    EXPECT_EQ("1,3", Agreeing(f));
    // The last byte of the room stays unused.
    std::string full = Sql(f), brief = Sql(f, full.size() + 1);
    EXPECT_EQ(full, Sql(f, full.size() + 2));
    EXPECT_LT(brief.size(), full.size());
    EXPECT_NE(std::string::npos, brief.find("sip IN ('t1','t''3')")) << brief;
    EXPECT_NE(std::string::npos, brief.find("author.sip IN ('alice','bob')")) << brief;
    EXPECT_EQ(brief, Sql(f, brief.size() + 2));
    for (int room : {(int)brief.size() + 1, 7}) EXPECT_EQ("FALSE", Sql(f, room));
    for (int room : {6, 1}) EXPECT_EQ("", Sql(f, room));
}

TEST(message_filter, check_compares_without_regard_to_case_and_skips_missing_fields)
{
    MessageContent m(0, 9, 0, "Alice", "T1", nullptr, "hi", nullptr);
    m.tags.Add("Urgent");
    m.notifications.Add("Bob");
    MessageFilter f(MessageFilter::AND);
    f.AddTopic("t1");
    f.AddAuthor("alice");
    f.AddTag("URGENT");
    f.AddNotification("bob");
    EXPECT_TRUE(f.check(&m));
    // What the store makes of a message's topic and author is what filters then see.
    m.SetTopic("T2");
    m.SetAuthor("Carol");
    EXPECT_FALSE(f.check(&m));
    MessageFilter moved(MessageFilter::AND);
    moved.AddTopic("t2");
    moved.AddAuthor("CAROL");
    EXPECT_TRUE(moved.check(&m));
    MessageContent bare(0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    MessageFilter any(MessageFilter::OR);
    any.AddTopic("");
    any.AddAuthor("");
    any.AddNotification("");
    EXPECT_FALSE(any.check(&bare));
}

TEST(message_filter, topic_gate_follows_terms_added_after_it_was_taken)
{
    auto bit = [](const char* topic) { return MessageFilter::TopicBit(CaselessKey(topic)); };
    MessageFilter f(MessageFilter::AND);
    MessageFilter* topics = f.AddFilter(MessageFilter::OR);
    topics->AddTopic("general");
    EXPECT_EQ(bit("GENERAL"), f.TopicGate());
    topics->AddTopic("random");
    f.AddAuthor("alice");
    EXPECT_EQ(bit("general") | bit("random"), f.TopicGate());
    // Under OR an author may match a message of any topic.
    topics->AddAuthor("bob");
    EXPECT_EQ(~0ULL, f.TopicGate());
}
