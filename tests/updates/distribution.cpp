#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

class DistributionTest : public UpdatesTest {
protected:
    std::vector<TestFilter*> Recorders(Session* s, unsigned n, const char* prefix = "f", const char* user = nullptr)
    {
        std::vector<TestFilter*> made;
        for (unsigned i = 1; i <= n; i++) made.push_back(Filter(s, prefix + std::to_string(i), user, false));
        return made;
    }
};

}  // namespace

TEST_F(DistributionTest, updates_pass_the_filters_in_list_order_ten_per_pass_one_update_after_another)
{
    Session* s = NewSession();
    Recorders(s, 25);
    Start("u1");
    Start("u2");
    EXPECT_TRUE(tested.empty());
    Strings pass = Pass();
    EXPECT_EQ(Strings({"f1:u1", "f10:u1"}), Strings({pass.front(), pass.back()}));
    EXPECT_EQ("f11:u1", Pass().front());
    // The short last slice is not topped up with the next update.
    EXPECT_EQ(Strings({"f21:u1", "f22:u1", "f23:u1", "f24:u1", "f25:u1"}), Pass());
    EXPECT_EQ(Strings{"u1"}, gone);
    EXPECT_EQ("f1:u2", Pass().front());
    EXPECT_EQ(2u, Drain());
    // Updates still waiting when the hub goes are freed with it.
    Start("u3");
    Close(s);
    delete hub;
    hub = new AppUpdates(mux);
    EXPECT_EQ(Strings({"u1", "u2", "u3"}), gone);
}

TEST_F(DistributionTest, a_users_filters_form_one_block_newest_first_and_a_user_update_walks_only_it)
{
    Session* a = NewSession();
    Session* b = NewSession();
    Recorders(a, 500, "x");
    struct {
        Session* s;
        const char *name, *user;
    } users[] = {{a, "alice1", "alice"}, {a, "bob1", "bob"}, {b, "carol1", "carol"}, {b, "bob2", "Bob"},
                 {a, "alice2", "alice"}};
    for (auto& u : users) Filter(u.s, u.name, u.user, false);
    Recorders(b, 500, "y");
    // Two sessions of Bob, in list order, and nobody else is asked.
    Start("read", "BOB");
    EXPECT_EQ(Strings({"bob2:read", "bob1:read"}), Pass());
    // A user without filters: nobody; the entry made for it goes again.
    Start("lost", "dave");
    EXPECT_TRUE(Pass().empty());
    EXPECT_EQ(nullptr, group.FindUser("dave"));
    // The block's head moves on when its filter goes; the last filter takes the entry.
    a->AppFilterClose(&group, "alice2");
    EXPECT_STREQ("alice1", group.FindUser("alice")->First()->Name());
    b->AppFilterClose(&group, "carol1");
    EXPECT_EQ(nullptr, group.FindUser("carol"));
    // A user known only to a waiting update gets its block at the end.
    Start("early", "erin");
    Filter(b, "erin1", "erin", false);
    Filter(b, "erin2", "erin", false);
    EXPECT_EQ(Strings({"erin2:early", "erin1:early"}), Pass());
    tested.clear();
    Start("all");
    EXPECT_EQ(101u, Drain());
    EXPECT_EQ("alice1:all", tested[500]);
    EXPECT_EQ("erin1:all", tested.back());

    // A name sent again replaces the session's filter of that group only.
    AppUpdatesFilters second;
    TestFilter* elsewhere = new TestFilter(&second, a, "bob1", nullptr, tested);
    TestFilter* fresh = Filter(a, "bob1");
    EXPECT_EQ(fresh, a->AppFilterGet(&group, "bob1"));
    EXPECT_EQ(elsewhere, a->AppFilterGet(&second, "bob1"));
    EXPECT_STREQ("y1", group.FindUser("bob")->First()->Next()->Name());
    new TestFilter(&second, a, nullptr, nullptr, tested);
    new TestFilter(&second, a, nullptr, nullptr, tested);
    EXPECT_EQ(3u, second.Count());
    a->AppFilterClose(&second, "bob1");
    while (second.First()) delete second.First();
}

TEST_F(DistributionTest, filters_deleted_between_slices_are_skipped_and_the_update_still_ends)
{
    Session* s = NewSession();
    std::vector<TestFilter*> f = Recorders(s, 25);
    Start("u");
    Pass();
    delete f[10];  // where the update resumes
    delete f[11];
    Strings second = Pass();
    EXPECT_EQ(Strings({"f13:u", "f22:u"}), Strings({second.front(), second.back()}));
    for (unsigned i = 22; i < 25; i++) delete f[i];
    EXPECT_TRUE(Pass().empty());
    EXPECT_EQ(Strings{"u"}, gone);
    // Inside a user's block, resuming at another user's filter ends it.
    std::vector<TestFilter*> g = Recorders(s, 12, "g", "gina");
    Filter(s, "h", "hank", false);
    Start("v", "gina");
    EXPECT_EQ("g12:v", Pass().front());
    delete g[1];
    delete g[0];
    EXPECT_TRUE(Pass().empty());
    EXPECT_EQ(Strings({"u", "v"}), gone);
}
