// A session's filter from its JSON, and the user's topic list it takes its
// default topics from.
#include "messages/filter_from_json.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "json/json_io.h"
#include "messages/filter_expression.h"
#include "messages/messages_user.h"

namespace {

// A filter as op{topics|authors|tags|notifies|nested...}.
std::string Shape(const MessageFilter& f)
{
    auto list = [](const MessageStrings& l) {
        std::string s;
        for (const MessageString& v : l) s += std::string(&v == l.First() ? "" : ",") + v.value;
        return s;
    };
    std::string s = (f.op == MessageFilter::OR ? "or{" : "and{") + list(f.topics) + "|" + list(f.authors) + "|" +
                    list(f.tags) + "|" + list(f.notifications);
    for (MessageFilter* n = f.filters; n; n = n->next) s += "|" + Shape(*n);
    return s + "}";
}

// The filter built from the "filter" member of a message ("" for none), for
// a user whose topics are t2, the personal topic ME and T1.
std::string From(const std::string& member, const char* personal = "me")
{
    MessagesUser user(personal);
    for (const char* name : {"t2", "ME", "T1"}) {
        std::string copy = name;
        user.AddTopic(copy.data(), nullptr, 0, false);
    }
    std::string text = "{\"mt\":\"SetFilter\"" + (member.empty() ? "" : ",\"filter\":" + member) + "}";
    auto json = std::make_unique<json_io>(text.data());
    EXPECT_TRUE(json->decode()) << text;
    MessageFilter f(MessageFilter::AND);
    jsonFilter(&f, *json, json->get_object(0, "filter"), &user);
    return Shape(f);
}

// A user's topics as "sip/dn/id,...", in walking order.
std::string Topics(const MessagesUser& u)
{
    std::string s;
    for (MessagesTopic* t = u.FirstTopic(); t; t = u.NextTopic(t))
        s += std::string(s.empty() ? "" : ",") + t->sip + "/" + (t->dn ? t->dn : "-") + "/" + std::to_string(t->id);
    return s;
}

}  // namespace

TEST(JsonFilter, filter_without_topics_reads_all_topics_of_the_user_but_the_personal_one)
{
    for (const char* member : {"", "{}", "{\"topics\":[]}", "{\"topics\":[1]}", "{\"topics\":\"t1\"}"})
        EXPECT_EQ("and{||||or{T1,t2|||}}", From(member)) << member;
    EXPECT_EQ("and{||||or{ME,T1,t2|||}}", From("", "other"));
}

TEST(JsonFilter, named_topics_are_kept_as_spelt_when_the_user_has_them)
{
    EXPECT_EQ("and{t1,me|||}", From("{\"topics\":[\"t1\",\"unknown\",\"me\",7]}"));
    EXPECT_EQ("and{|||}", From("{\"topics\":[\"unknown\"]}"));
}

TEST(JsonFilter, members_fill_their_lists_and_each_nested_object_gets_its_own_topic_default)
{
    EXPECT_EQ("or{T1|b,\"c|a,'x|,n}", From("{\"op\":\"or\",\"topics\":[\"T1\"],\"tags\":[\"a\",true,\"'x\"],"
                                           "\"authors\":[\"b\",\"\\\"c\"],\"notifies\":[\"\",\"n\"]}"));
    EXPECT_EQ("and{t2||||and{||x||or{T1,t2|||}}|or{t1|||}}",
              From("{\"op\":\"OR\",\"topics\":[\"t2\"],\"filters\":[{\"tags\":[\"x\"]},5,{\"op\":\"or\",\"topics\":[\"t1\"]}]}"));
    EXPECT_EQ("and{t2|||}", From("{\"op\":1,\"topics\":[\"t2\"],\"filters\":{\"topics\":[\"t1\"]},\"tags\":\"x\"}"));
}

TEST(MessagesUser, topics_are_cut_at_the_tilde_kept_once_and_walked_without_regard_to_case)
{
    MessagesUser u("me");
    char first[] = "x~y", again[] = "X", b[] = "B", a[] = "a";
    u.AddTopic(first, "X one", 7, true);
    EXPECT_STREQ("x", first);
    u.AddTopic(again, "X two", 8, false);
    u.AddTopic(b, nullptr, 0, false);
    u.AddTopic(a, "A", 1, false);
    u.AddTopic(nullptr, "none", 2, false);
    EXPECT_EQ("a/A/1,B/-/0,x/X one/7", Topics(u));
    // Group names are compared byte-wise.
    u.AddGroup("g");
    u.AddGroup("g");
    u.AddGroup(nullptr);
    EXPECT_NE(nullptr, u.FindGroup("g"));
    EXPECT_EQ(nullptr, u.FindGroup("G"));

    MessagesUser copy(&u);
    EXPECT_STREQ("me", copy.sip);
    EXPECT_EQ("a/A/1,B/-/0,x/X one/7", Topics(copy));
    EXPECT_NE(nullptr, copy.FindGroup("g"));
    EXPECT_EQ(nullptr, u.sip);
    EXPECT_EQ("", Topics(u));
    copy.SetSip(copy.sip);
    EXPECT_STREQ("me", copy.sip);
}
