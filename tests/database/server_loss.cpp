#include <stdlib.h>
#include <unistd.h>

#include "tests/database/db_test.h"
#include "tests/support/child_process.h"

// The server goes away under the driver: every user hears of it, nothing
// crashes, and the owner learns that the database has shut down.
class ServerLossTest : public DbTest {
protected:
    void StartPrivateCluster()
    {
        ASSERT_TRUE(cluster.StartPrivate(privateDir.path)) << cluster.Error();
        ASSERT_TRUE(cluster.Query("messages", "SELECT 1")) << cluster.Error();
        db = provider->CreateDatabase(mux, &owner, &log);
        db->Connect(cluster.Address().c_str(), "messages", "messages", "kfo");
        ASSERT_TRUE(RunUntil([&] { return Has("owner:connected"); }));
        events.clear();
    }
    void TearDown() override
    {
        DbTest::TearDown();
        cluster.StopPrivate();
    }

    harness::TempDir privateDir;
    PgTestCluster cluster;
};

TEST_F(ServerLossTest, crash_while_a_result_streams_and_commands_wait_fails_every_user)
{
    ASSERT_NO_FATAL_FAILURE(StartPrivateCluster());
    DbUser streaming(events, "streaming"), waiting(events, "waiting"), locked(events, "locked");
    streaming.onResult = [&](IDatabase*, IDataSet* ds) {
        if (streaming.rows.empty() && !cluster.Crash()) ADD_FAILURE() << cluster.Error();
        streaming.rows.push_back(ds->GetStringValue(0));
        ds->FetchNextRow();
    };
    db->ExecSQL(&streaming, 0, "SELECT g, repeat('x', 100) FROM generate_series(1, 10000000) g");
    db->ExecSQL(&waiting, DB_EXEC_FETCH_ALL, "SELECT 1");
    db->BeginTransaction(&locked);
    db->InsertSQL(&locked, "INSERT INTO t (v) VALUES (1)");
    ASSERT_TRUE(RunUntil([&] { return shutDown; }, 60000));
    EXPECT_EQ((std::vector<std::string>{"streaming:DB_ERR_SERVER_ERROR", "waiting:DB_ERR_SERVER_ERROR",
                                        "locked:DB_ERR_SERVER_ERROR", "owner:shutdown DB_ERR_SERVER_ERROR"}),
              events);
    EXPECT_FALSE(db->Connected());
    EXPECT_LT(streaming.rows.size(), 10000000u);
    db->ExecSQL(&waiting, DB_EXEC_FETCH_ALL, "SELECT 1");
    ASSERT_TRUE(RunUntil([&] { return Has("waiting:DB_ERR_SHUTDOWN_STATE"); }));
}

TEST_F(ServerLossTest, server_gone_while_idle_or_while_a_user_holds_a_result)
{
    ASSERT_NO_FATAL_FAILURE(StartPrivateCluster());
    DbUser holder(events, "holder");
    IDataSet* held = nullptr;
    holder.onResult = [&](IDatabase*, IDataSet* ds) {
        held = ds;
        holder.Note("held");
    };
    db->ExecSQL(&holder, DB_EXEC_FETCH_ALL, "SELECT 1");
    ASSERT_TRUE(RunUntil([&] { return held != nullptr; }));
    ASSERT_TRUE(cluster.Crash()) << cluster.Error();
    // The data set outlives the connection and is deleted safely later.
    EXPECT_EQ(1, held->GetIntValue(0));
    delete held;
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    EXPECT_EQ((std::vector<std::string>{"holder:held", "owner:shutdown DB_ERR_SERVER_ERROR"}), events);
}

TEST_F(DbTest, backend_terminated_by_an_administrator_while_idle_shuts_the_driver_down)
{
    Connect();
    DbUser u(events, "u"), failing(events, "failing");
    // An earlier failed statement leaves an error code that the loss reports again.
    db->ExecSQL(&failing, DB_EXEC_FETCH_ALL, "SELECT * FROM no_such_table");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT pg_backend_pid()");
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 1"); }));
    ASSERT_TRUE(pg.Query("SELECT pg_terminate_backend(" + u.rows[0] + ")")) << pg.Error();
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    EXPECT_EQ((std::vector<std::string>{"failing:DB_ERR_SQL_COMMAND_FAILED", "u:rows 1", "owner:shutdown DB_ERR_SERVER_ERROR"}),
              events);
    EXPECT_STREQ("42P01", db->GetLastErrorCode());
}
