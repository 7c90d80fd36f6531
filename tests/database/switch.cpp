#include "database/database_switch.h"
#include "tests/database/db_test.h"

TEST_F(DbTest, results_reach_the_task_that_asked_through_a_shared_switch)
{
    Connect();
    DbUser setup(events, "setup");
    db->ExecSQL(&setup, DB_EXEC_FETCH_ALL, "CREATE TABLE t (id BIGSERIAL PRIMARY KEY, name TEXT)");
    DatabaseSwitch sw(db);
    EXPECT_EQ(db, sw.GetDatabase());
    DbUser a(events, "a"), b(events, "b"), c(events, "c");
    // A streamed result comes from the switch, in one wrapper for all its rows.
    std::vector<IDataSet*> seen;
    b.onResult = [&](IDatabase* from, IDataSet* ds) {
        EXPECT_EQ(&sw, from);
        seen.push_back(ds);
        if (ds->Eot()) {
            b.Note("eot");
            delete ds;
            return;
        }
        b.rows.push_back(ds->GetStringValue(0));
        ds->FetchNextRow();
    };
    sw.InsertSQL(&a, "INSERT INTO t (name) VALUES (%s)", "a");
    sw.ExecSQL(&b, 0, "SELECT g FROM generate_series(1, 3) g");
    sw.InsertSQL(&c, "INSERT INTO t (name) VALUES (%s)", "c");
    sw.InsertSQL(&b, "INSERT INTO t (name) VALUES (%s)", "b");
    ASSERT_TRUE(RunUntil([&] { return Has("b:id 3"); }));
    EXPECT_EQ((std::vector<std::string>{"setup:rows 0", "a:id 1", "b:eot", "c:id 2", "b:id 3"}), events);
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), b.rows);
    ASSERT_EQ(4u, seen.size());
    for (IDataSet* ds : seen) EXPECT_EQ(seen[0], ds);
    EXPECT_EQ("3", pg.Value("SELECT id FROM t WHERE name = 'b'"));

    // A whole result held by its task holds up neither the connection nor
    // the switch: the next task's result comes meanwhile, to that task.
    events.clear();
    IDataSet* held = nullptr;
    a.onResult = [&](IDatabase* from, IDataSet* ds) {
        EXPECT_EQ(&sw, from);
        held = ds;
        a.Note("held");
    };
    sw.ExecSQL(&a, DB_EXEC_FETCH_ALL, "SELECT name FROM t ORDER BY id");
    sw.ExecSQL(&c, DB_EXEC_FETCH_ALL, "SELECT 'c'");
    db->ExecSQL(&setup, DB_EXEC_FETCH_ALL, "SELECT 'setup'");
    sw.InsertSQL(&c, "INSERT INTO t (name) VALUES (%s)", "d");
    ASSERT_TRUE(RunUntil([&] { return Has("c:id 4"); }));
    EXPECT_EQ((std::vector<std::string>{"a:held", "c:rows 1", "setup:rows 1", "c:id 4"}), events);
    ASSERT_TRUE(held);
    EXPECT_FALSE(held->IsSingleRowMode());
    std::string names;
    for (; !held->Eot(); held->Next()) names += held->GetStringValue(0);
    EXPECT_EQ("acb", names);
    delete held;
}

TEST_F(DbTest, tasks_behind_one_switch_share_its_transaction_and_its_failure)
{
    Connect();
    DbUser setup(events, "setup"), other(events, "other");
    db->ExecSQL(&setup, DB_EXEC_FETCH_ALL, "CREATE TABLE t (v INTEGER UNIQUE)");
    DatabaseSwitch sw(db);
    DbUser task(events, "task"), sub(events, "sub");
    sw.BeginTransaction(&task);
    db->ExecSQL(&other, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM t");
    // The sub-task's commands come after other's, yet the lock owner's queue
    // overtakes: they run inside the transaction first.
    task.then = [&](const std::string& what) {
        if (what != "begin") return;
        sw.ExecSQL(&sub, DB_EXEC_FETCH_ALL, "INSERT INTO t VALUES (1)");
        sw.EndTransaction(&task);
    };
    ASSERT_TRUE(RunUntil([&] { return Has("other:rows 1"); }));
    EXPECT_EQ((std::vector<std::string>{"setup:rows 0", "task:begin", "sub:rows 0", "task:end", "other:rows 1"}), events);
    EXPECT_EQ("1", other.rows[0]);

    // A failure drops every waiting request of the switch; the user at the
    // front (the sub-task whose insert failed) hears of it, and the switch
    // serves new requests afterwards.
    events.clear();
    task.then = nullptr;
    sw.BeginTransaction(&task);
    sw.ExecSQL(&sub, DB_EXEC_FETCH_ALL, "INSERT INTO t VALUES (1)");
    sw.ExecSQL(&sub, DB_EXEC_FETCH_ALL, "INSERT INTO t VALUES (2)");
    sw.EndTransaction(&task);
    db->ExecSQL(&other, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM t");
    ASSERT_TRUE(RunUntil([&] { return Has("other:rows 1"); }));
    EXPECT_EQ((std::vector<std::string>{"task:begin", "sub:DB_ERR_SQL_COMMAND_FAILED", "other:rows 1"}), events);
    sw.InsertSQL(&sub, "INSERT INTO t VALUES (5) RETURNING v --");
    ASSERT_TRUE(RunUntil([&] { return Has("sub:id 5"); }));
}
