// The user initialisation on a real database: which sub-topics access rows
// grant, and what a failure leaves.
#include <string>

#include "messages/messages_user.h"
#include "messages/schema/task_database_init.h"
#include "messages/tasks/task_user_init.h"
#include "tests/schema/schema_test.h"

namespace {

class UserInitTest : public SchemaTest {
protected:
    void SetUp() override
    {
        SchemaTest::SetUp();
        Connect();
        TaskDatabaseInit init(db);
        ASSERT_EQ(Strings{"complete"}, Run(init));
    }
    using Strings = std::vector<std::string>;

    // "sip dn id admin" of every topic, in tree order.
    static Strings Topics(const MessagesUser& user)
    {
        Strings all;
        for (MessagesTopic* t = user.FirstTopic(); t; t = user.NextTopic(t))
            all.push_back(std::string(t->sip) + " " + (t->dn ? t->dn : "-") + " " + std::to_string(t->id) +
                          (t->admin ? " admin" : ""));
        return all;
    }
    std::string Id(const std::string& sip) { return pg.Value("SELECT id FROM objects WHERE sip='" + sip + "'"); }
    void Grant(const std::string& topic, bool grp, const std::string& sip, bool admin)
    {
        ASSERT_TRUE(pg.Query("INSERT INTO topic_access (topic,grp,sip,admin) VALUES ((SELECT id FROM objects WHERE sip='" +
                             topic + "')," + (grp ? "TRUE" : "FALSE") + ",'" + sip + "'," + (admin ? "TRUE" : "FALSE") +
                             ")"));
    }
};

}  // namespace

TEST_F(UserInitTest, sub_topics_come_from_rows_for_the_user_its_groups_or_everyone)
{
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip, dn) VALUES ('alice', 'Old name'), ('team', 'Team'),"
                         " ('team?mine', 'Mine'), ('team?group', 'Group'), ('team?all', NULL), ('team?theirs', 'Theirs'),"
                         " ('team?byname', 'By name'), ('teamx?near', 'Near'), ('other?x', 'Other'),"
                         " ('t_am?under', 'Under'), ('t%?percent', 'Percent')"));
    Grant("team?mine", false, "ALICE", true);
    Grant("team?group", true, "devs", false);
    Grant("team?group", false, "alice", true);
    Grant("team?all", false, "", false);
    Grant("team?theirs", false, "bob", true);
    // A group row whose name is not a group of ours, and a user row that
    // happens to carry the name of one of our groups without being a group row.
    Grant("team?theirs", true, "ops", false);
    Grant("team?byname", false, "devs", false);
    Grant("teamx?near", false, "", false);
    Grant("other?x", false, "", false);
    Grant("t_am?under", false, "", false);
    Grant("t%?percent", false, "", false);

    MessagesUser user("alice");
    user.SetDn("Alice");
    user.AddGroup("devs");
    char team[] = "team", personal[] = "alice";
    user.AddTopic(team, "Team", 0, false);
    user.AddTopic(personal, "Alice", 0, false);
    TaskUserInit task(db, &user);
    EXPECT_EQ(Strings{"complete"}, Run(task));

    EXPECT_EQ(Id("alice"), std::to_string(user.id));
    EXPECT_EQ("Alice", pg.Value("SELECT dn FROM objects WHERE sip='alice'"));
    EXPECT_EQ((Strings{"alice Alice " + Id("alice"), "team Team " + Id("team"), "team?all - " + Id("team?all"),
                       "team?group Group " + Id("team?group") + " admin", "team?mine Mine " + Id("team?mine") + " admin"}),
              Topics(user));

    // Topics named with the LIKE wildcards "_" and "%" get their own
    // sub-topics only, not those of every topic their names would match.
    MessagesUser dave("dave");
    char under[] = "t_am", percent[] = "t%";
    dave.AddTopic(under, "Under", 0, false);
    dave.AddTopic(percent, "Percent", 0, false);
    TaskUserInit wildcards(db, &dave);
    EXPECT_EQ(Strings{"complete"}, Run(wildcards));
    EXPECT_EQ((Strings{"t% Percent " + Id("t%"), "t%?percent Percent " + Id("t%?percent"),
                       "t_am Under " + Id("t_am"), "t_am?under Under " + Id("t_am?under")}),
              Topics(dave));
}

TEST_F(UserInitTest, a_topic_unknown_to_the_database_gets_a_row_and_a_failure_keeps_what_was_done)
{
    MessagesUser user("carol");
    char fresh[] = "fresh";
    user.AddTopic(fresh, "Fresh", 0, false);
    TaskUserInit first(db, &user);
    EXPECT_EQ(Strings{"complete"}, Run(first));
    EXPECT_NE("", Id("fresh"));
    EXPECT_EQ(Id("carol"), std::to_string(user.id));
    EXPECT_EQ(Strings{"fresh Fresh " + Id("fresh")}, Topics(user));

    ASSERT_TRUE(pg.Query("DROP TABLE topic_access CASCADE"));
    MessagesUser again("carol");
    char topic[] = "fresh";
    again.AddTopic(topic, "Fresh", 0, false);
    TaskUserInit second(db, &again);
    EXPECT_EQ(Strings{"failed"}, Run(second));
    EXPECT_EQ(Id("carol"), std::to_string(again.id));
    EXPECT_EQ(Strings{"fresh Fresh " + Id("fresh")}, Topics(again));
}
