#include "messages/messages_user.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Topics(const MessagesUser& u)
{
    std::string s;
    for (MessagesTopic* t = u.FirstTopic(); t; t = u.NextTopic(t))
        s += std::string(s.empty() ? "" : ",") + t->sip + "/" + (t->dn ? t->dn : "-") + "/" + std::to_string(t->id);
    return s;
}

}  // namespace

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
