// The user initialisation on a real database: sub-topic names, and what a
// failure leaves.
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

// Which rows grant what is covered end to end (tests/e2e/sessions.cpp); here
// the matching of sub-topic names, which the service does with LIKE.
TEST_F(UserInitTest, sub_topics_belong_to_their_own_topic_only_even_when_its_name_holds_like_wildcards)
{
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip, dn) VALUES ('t_am?under', 'Under'), ('t%?percent', 'Percent'),"
                         " ('team?x', 'X'), ('t_amx?near', 'Near')"));
    for (const char* topic : {"t_am?under", "t%?percent", "team?x", "t_amx?near"}) Grant(topic, false, "", false);
    MessagesUser dave("dave");
    char under[] = "t_am", percent[] = "t%";
    dave.AddTopic(under, "Under", 0, false);
    dave.AddTopic(percent, "Percent", 0, false);
    TaskUserInit task(db, &dave);
    EXPECT_EQ(Strings{"complete"}, Run(task));
    EXPECT_EQ(Id("dave"), std::to_string(dave.id));
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
