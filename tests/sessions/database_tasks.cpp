// What sessions ask of a real database: the user initialisation (sub-topic
// names, and what a failure leaves), and whether a caller belongs to the
// group it calls and who the members of a group are, by the group's SIP name.
#include <string>

#include "messages/messages_user.h"
#include "messages/schema/task_database_init.h"
#include "messages/tasks/task_check_member.h"
#include "messages/tasks/task_read_members.h"
#include "messages/tasks/task_user_init.h"
#include "tests/schema/schema_test.h"

namespace {

// Takes every row of a member list, as a group chat's member query does.
class MemberRows : public UTask {
public:
    explicit MemberRows(TaskReadMembers& read) : read(read) {}
    void TaskComplete(ITask*) override { rows.push_back("complete"); }
    void TaskFailed(ITask*) override { rows.push_back("failed"); }
    void TaskProgress(ITask*, unsigned) override
    {
        IDataSet* row = read.Row();
        rows.push_back(std::string(row->GetStringValue("sip")) + " " + row->GetStringValue("gdn") +
                       (row->GetBoolValue("admin") ? " admin" : ""));
        read.Next();
    }
    TaskReadMembers& read;
    std::vector<std::string> rows;
};

class database_tasks : public SchemaTest {
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
    std::string Check(const char* group, const char* member)
    {
        TaskCheckMember check(db, group, member);
        std::vector<std::string> events = Run(check);
        bool found = true, admin = true;
        check.Get(found, admin);
        return events.back() + (found ? " member" : "") + (admin ? " admin" : "");
    }
};

}  // namespace

// Which rows grant what is covered end to end (tests/e2e/sessions.cpp); here
// the matching of sub-topic names, which the service does with LIKE.
TEST_F(database_tasks, sub_topics_belong_to_their_own_topic_only_even_when_its_name_holds_like_wildcards)
{
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip, dn) VALUES ('t_am?under', 'Under'), ('t%?percent', 'Percent'),"
                         " ('team?x', 'X'), ('t_amx?near', 'Near')"));
    // Every sub-topic is open to everyone.
    ASSERT_TRUE(pg.Query("INSERT INTO topic_access (topic, grp, sip, admin) SELECT id, FALSE, '', FALSE FROM objects"));
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

TEST_F(database_tasks, a_topic_unknown_to_the_database_gets_a_row_and_a_failure_keeps_what_was_done)
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

TEST_F(database_tasks, a_group_chat_finds_its_callers_and_members_by_the_groups_name)
{
    ASSERT_TRUE(pg.Query("INSERT INTO objects (sip, dn, grp) VALUES ('app?team', 'Team', TRUE), ('app?none', NULL, TRUE),"
                         " ('ann', 'Ann', NULL), ('bob', 'Bob', NULL)"));
    ASSERT_TRUE(pg.Query("INSERT INTO members (grp, object, admin) SELECT g.id, u.id, u.sip='ann' FROM objects g, "
                         "objects u WHERE g.sip='app?team' AND u.sip IN ('ann','bob') ORDER BY u.sip"));
    EXPECT_EQ(Check("app?team", "ann"), "complete member admin");
    EXPECT_EQ(Check("APP?Team", "BOB"), "complete member");
    EXPECT_EQ(Check("app?team", "carl"), "complete");
    EXPECT_EQ(Check("app?none", "ann"), "complete");

    TaskReadMembers byName(db, 0, "App?Team");
    MemberRows members(byName);
    byName.Start(&members);
    EXPECT_TRUE(members.rows.empty()) << "nothing is reported from inside Start";
    EXPECT_TRUE(RunUntil([&] { return !members.rows.empty() && members.rows.back() == "complete"; }));
    EXPECT_EQ(members.rows, (std::vector<std::string>{"ann Team admin", "bob Team", "complete"}));

    ASSERT_TRUE(pg.Query("DROP TABLE members CASCADE"));
    EXPECT_EQ(Check("app?team", "ann"), "failed");
}
