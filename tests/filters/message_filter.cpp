#include "messages/filter_expression.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "messages/message_content.h"

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

const std::string T1 = "discussion.topic=(SELECT id FROM objects WHERE sip='t1')";
const std::string T2 = "discussion.topic=(SELECT id FROM objects WHERE sip='t2')";
const std::string NOTIFIES =
    "(m.id IN (SELECT message FROM message_notifications JOIN objects AS notify ON notify.id = message_notifications.object";
const std::string TAGS = "(m.id IN (SELECT message FROM message_tags JOIN tags ON tags.id = message_tags.tag WHERE tags.name";

}  // namespace

TEST(MessageFilter, terms_are_written_in_list_order_with_quotes_doubled)
{
    MessageFilter f(MessageFilter::AND);
    MessageFilter* group = f.AddFilter(MessageFilter::OR);
    group->AddTopic("t1");
    group->AddTopic("t2");
    f.AddAuthor("a");
    EXPECT_EQ("author.sip='a' AND (" + T1 + " OR " + T2 + ")", Sql(f));

    MessageFilter any(MessageFilter::OR);
    any.AddNotification("");
    any.AddNotification("n'1");
    any.AddTag("x");
    any.AddAuthor("O'Brien");
    EXPECT_EQ("author.sip='O''Brien' OR " + TAGS + "='x')) OR " + NOTIFIES + ")) OR " + NOTIFIES +
                  " WHERE notify.sip='n''1'))",
              Sql(any));
    // Groups without terms write what they match in memory.
    any.AddFilter(MessageFilter::OR);
    any.AddFilter(MessageFilter::AND);
    EXPECT_EQ(" OR (FALSE) OR (TRUE)", Sql(any).substr(Sql(any).size() - 21));
}

TEST(MessageFilter, text_that_does_not_fit_gets_in_lists_then_selects_nothing_and_stays_in_its_room)
{
    MessageFilter f(MessageFilter::AND);
    f.AddTag("x");
    MessageFilter* group = f.AddFilter(MessageFilter::OR);
    group->AddTopic("t1");
    group->AddTopic("t'2");
    group->AddAuthor("a");
    group->AddAuthor("b");
    group->AddNotification("n");
    group->AddNotification("");
    group->AddFilter(MessageFilter::AND)->AddAuthor("c");
    // The last byte of the room stays unused.
    std::string full = Sql(f);
    EXPECT_EQ(full, Sql(f, full.size() + 2));
    std::string brief = TAGS + "='x')) AND (discussion.topic IN (SELECT id FROM objects WHERE sip IN ('t1','t''2'))" +
                        " OR author.sip IN ('a','b') OR " + NOTIFIES + ")) OR (author.sip='c'))";
    EXPECT_EQ(brief, Sql(f, full.size() + 1));
    EXPECT_EQ(brief, Sql(f, brief.size() + 2));
    for (int room : {(int)brief.size() + 1, 7}) EXPECT_EQ("FALSE", Sql(f, room));
    for (int room : {6, 1}) EXPECT_EQ("", Sql(f, room));
}

TEST(MessageFilter, check_compares_without_regard_to_case_and_skips_missing_fields)
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
    MessageContent bare(0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    MessageFilter any(MessageFilter::OR);
    any.AddTopic("");
    any.AddAuthor("");
    any.AddNotification("");
    EXPECT_FALSE(any.check(&bare));
}
