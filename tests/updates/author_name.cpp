#include "messages/message_content.h"
#include "messages/updates/message_update_filter.h"
#include "messages/updates/message_update.h"
#include "messages/schema/task_database_init.h"
#include "tests/schema/schema_test.h"
#include "tests/updates/updates_test.h"

using namespace updates_test;

namespace {

class AuthorNameTest : public SchemaTest {
protected:
    void SetUp() override
    {
        SchemaTest::SetUp();
        Connect();
        TaskDatabaseInit init(db);
        ASSERT_EQ(Strings{"complete"}, Run(init));
        ASSERT_TRUE(pg.Query("INSERT INTO objects (sip, dn) VALUES ('alice', 'Alice Liddell'), ('nodn', NULL)"));
        hub = new AppUpdates(mux);
        session = new Session(hub, &quiet);
        LogIn(session, ws = new FakeWebsocket(session));
        new MessagesFilter(&filters, session, "F", false, 0);
    }
    void TearDown() override
    {
        if (ws) ws->End();
        delete session;
        delete hub;
        SchemaTest::TearDown();
    }
    // The "msg" of the "Add" that a post by author becomes.
    std::map<std::string, std::string> Posted(const char* author)
    {
        MessageContent* post = new MessageContent(0, 1, 0, author, "t", nullptr, "x", nullptr);
        (new MessagesUpdateMessage(&filters, 99, nullptr, 0, post, false))->Start(hub, db);
        mux->RunOnce(0);
        EXPECT_TRUE(ws->sent.empty()) << "distributed before the name was known";
        EXPECT_TRUE(RunUntil([&] { return !ws->sent.empty(); }));
        ws->ConfirmAll();
        return Members(Members(ws->Take())["msg"]);
    }

    IInstanceLog quiet;
    AppUpdates* hub = nullptr;
    AppUpdatesFilters filters;
    Session* session = nullptr;
    FakeWebsocket* ws = nullptr;
};

}  // namespace

TEST_F(AuthorNameTest, a_post_carries_the_authors_display_name_when_the_database_knows_one)
{
    EXPECT_EQ("Alice Liddell", Posted("ALICE")["dn"]);
    EXPECT_EQ(0u, Posted("nodn").count("dn"));
    EXPECT_EQ(0u, Posted("stranger").count("dn"));
}
