#include "tests/database/db_test.h"

TEST_F(DbTest, commands_queued_before_connect_run_after_connect_complete)
{
    Create();
    DbUser u(events, "u");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT %i", 7);
    EXPECT_FALSE(db->Connected());
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 1"); }));
    EXPECT_EQ((std::vector<std::string>{"owner:connected", "u:rows 1"}), events);
    EXPECT_EQ("7", u.rows[0]);
    EXPECT_TRUE(db->Connected());
}

TEST_F(DbTest, failing_statement_in_transaction_drops_the_rest_rolls_back_and_frees_the_queue)
{
    Connect();
    DbUser a(events, "a"), b(events, "b");
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "CREATE TABLE t (v INTEGER)");
    db->BeginTransaction(&a, "LOCK TABLE t");
    db->ExecSQL(&b, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM t");
    db->InsertSQL(&a, "INSERT INTO t (v) VALUES (1)");  // t has no id column: the insert fails
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "INSERT INTO t VALUES (2)");
    db->EndTransaction(&a);
    ASSERT_TRUE(RunUntil([&] { return Has("b:rows 1"); }));
    EXPECT_EQ((std::vector<std::string>{"a:rows 0", "a:begin", "a:DB_ERR_SQL_COMMAND_FAILED", "b:rows 1"}), events);
    EXPECT_STREQ("42703", db->GetLastErrorCode());
    EXPECT_NE(nullptr, strstr(db->GetLastErrorMessage(), "id"));
    EXPECT_EQ("0", b.rows[0]);
    // The rollback ended the transaction: the connection takes new ones.
    db->BeginTransaction(&a);
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "INSERT INTO t VALUES (3)");
    db->EndTransaction(&a);
    ASSERT_TRUE(RunUntil([&] { return Has("a:end"); }));
    EXPECT_EQ("1", pg.Value("SELECT count(*) FROM t"));
    EXPECT_TRUE(db->Connected());
}

TEST_F(DbTest, unique_violation_is_a_command_error_and_admin_shutdown_a_server_error)
{
    Connect();
    DbUser a(events, "a"), b(events, "b"), c(events, "c");
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "CREATE TABLE u (id BIGSERIAL PRIMARY KEY, v INTEGER UNIQUE)");
    db->InsertSQL(&a, "INSERT INTO u (v) VALUES (1)");
    db->InsertSQL(&a, "INSERT INTO u (v) VALUES (1)");
    db->ExecSQL(&b, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM u");
    ASSERT_TRUE(RunUntil([&] { return Has("b:rows 1"); }));
    EXPECT_EQ((std::vector<std::string>{"a:rows 0", "a:id 1", "a:DB_ERR_SQL_COMMAND_FAILED", "b:rows 1"}), events);
    EXPECT_STREQ("23505", db->GetLastErrorCode());
    EXPECT_TRUE(db->Connected());

    events.clear();
    // Class 57: the backend ends its own session while the command runs.
    db->ExecSQL(&b, DB_EXEC_FETCH_ALL, "SELECT pg_terminate_backend(pg_backend_pid())");
    db->ExecSQL(&c, 0, "SELECT 1");
    db->ExecSQL(&c, DB_EXEC_FETCH_ALL, "SELECT 2");
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    EXPECT_EQ((std::vector<std::string>{"b:DB_ERR_SERVER_ERROR", "c:DB_ERR_SERVER_ERROR", "owner:shutdown DB_ERR_SERVER_ERROR"}),
              events);
    EXPECT_STREQ("57P01", db->GetLastErrorCode());
    EXPECT_FALSE(db->Connected());
    EXPECT_TRUE(capture.Logged("::LastCommandFailed (57P01):"));
    EXPECT_TRUE(capture.Logged("::DatabaseShutdown reason: DB_ERR_SERVER_ERROR"));

    // A request after the shutdown is refused, on a later pass.
    events.clear();
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "SELECT 1");
    EXPECT_STREQ("Tried to call ExecSQLV() while database system is in shutdown state", db->GetLastErrorMessage());
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(RunUntil([&] { return Has("a:DB_ERR_SHUTDOWN_STATE"); }));
}

TEST_F(DbTest, single_row_select_without_rows_reports_eot_and_streams_rows_until_eot)
{
    Connect();
    DbUser u(events, "u"), v(events, "v");
    db->ExecSQL(&u, 0, "SELECT g FROM generate_series(1, 0) g");
    ASSERT_TRUE(RunUntil([&] { return Has("u:eot"); }));
    EXPECT_TRUE(u.rows.empty());

    db->ExecSQL(&u, 0, "SELECT g, 'x' FROM generate_series(1, 2000) g");
    // v lets go of its result after one row; the rest is dropped and the queue goes on.
    v.onResult = [&](IDatabase*, IDataSet* ds) {
        v.Note(ds->Eot() ? "eot" : std::string("row ") + ds->GetStringValue(0));
        delete ds;
    };
    db->ExecSQL(&v, 0, "SELECT g FROM generate_series(1, 100000) g");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT 'after'");
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 1"); }));
    ASSERT_EQ(2001u, u.rows.size());
    EXPECT_EQ("1|x", u.rows[0]);
    EXPECT_EQ("2000|x", u.rows[1999]);
    EXPECT_EQ("after", u.rows[2000]);
    EXPECT_EQ((std::vector<std::string>{"u:eot", "u:eot", "v:row 1", "u:rows 1"}), events);
}

TEST_F(DbTest, connect_failure_reaches_owner_and_queued_users_on_a_later_pass)
{
    Create(nullptr, "wrong password");
    DbUser u(events, "u");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT 1");
    EXPECT_TRUE(events.empty());
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    EXPECT_EQ((std::vector<std::string>{"u:DB_ERR_CONNECT_FAILED", "owner:shutdown DB_ERR_CONNECT_FAILED"}), events);
    EXPECT_NE(nullptr, strstr(db->GetLastErrorMessage(), "password"));
}

TEST_F(DbTest, shutdown_runs_what_was_queued_rolls_back_the_open_transaction_and_refuses_the_rest)
{
    Connect();
    DbUser a(events, "a"), b(events, "b"), w(events, "w");
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "CREATE TABLE t (v INTEGER)");
    db->BeginTransaction(&a);
    db->ExecSQL(&a, DB_EXEC_FETCH_ALL, "INSERT INTO t VALUES (1)");
    db->ExecSQL(&b, DB_EXEC_FETCH_ALL, "SELECT 1");  // waits behind the transaction
    ASSERT_TRUE(RunUntil([&] { return Count("a:rows 0") == 2; }));
    db->Shutdown();
    EXPECT_FALSE(db->Connected());
    db->EndTransaction(&a);
    db->InsertSQL(&w, "INSERT INTO nothing VALUES (1)");
    EXPECT_STREQ("Tried to call InsertSQLV() while database system is in shutdown state", db->GetLastErrorMessage());
    db->BeginTransaction(&w);
    EXPECT_STREQ("Tried to call BeginTransaction() while database system is in shutdown state", db->GetLastErrorMessage());
    db->PrepareStatement(&w, "SELECT 1");
    EXPECT_EQ(3u, events.size());
    ASSERT_TRUE(RunUntil([&] { return shutDown; }));
    // Each refused user hears once.
    EXPECT_EQ((std::vector<std::string>{"a:rows 0", "a:begin", "a:rows 0", "b:rows 1", "a:DB_ERR_SHUTDOWN_STATE",
                                        "w:DB_ERR_SHUTDOWN_STATE", "owner:shutdown DB_OK"}),
              events);
    EXPECT_EQ("0", pg.Value("SELECT count(*) FROM t"));
}
