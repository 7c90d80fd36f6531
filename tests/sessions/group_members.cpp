// What group chats ask of the database on a real one: whether a caller
// belongs to the group it calls, and who the members of a group are, both
// by the group's SIP name.
#include <string>

#include "messages/schema/task_database_init.h"
#include "messages/tasks/task_check_member.h"
#include "messages/tasks/task_read_members.h"
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

class GroupMembersTest : public SchemaTest {
protected:
    void SetUp() override
    {
        SchemaTest::SetUp();
        Connect();
        TaskDatabaseInit init(db);
        ASSERT_EQ(std::vector<std::string>{"complete"}, Run(init));
        ASSERT_TRUE(
            pg.Query("INSERT INTO objects (sip, dn, grp) VALUES ('app?team', 'Team', TRUE), ('app?none', NULL, "
                     "TRUE), ('ann', 'Ann', NULL), ('bob', 'Bob', NULL)"));
        ASSERT_TRUE(
            pg.Query("INSERT INTO members (grp, object, admin) SELECT g.id, u.id, u.sip='ann' FROM objects g, "
                     "objects u WHERE g.sip='app?team' AND u.sip IN ('ann','bob') ORDER BY u.sip"));
    }
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

TEST_F(GroupMembersTest, a_group_chat_finds_its_callers_and_members_by_the_groups_name)
{
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
