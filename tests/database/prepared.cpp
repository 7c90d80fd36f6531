#include "database/psql_prepared_statement.h"
#include "tests/database/db_test.h"

TEST_F(DbTest, prepared_statement_takes_every_parameter_type)
{
    Connect();
    DbUser u(events, "u");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL,
                "CREATE TABLE p (id BIGSERIAL PRIMARY KEY, i INTEGER, b BIGINT, d FLOAT8, s TEXT, f BOOLEAN, data BYTEA)");
    db->PrepareStatement(&u, "  INSERT INTO p (i, b, d, s, f, data) VALUES (%i, %llu, %f, %s, %b, %du) RETURNING id;");
    ASSERT_TRUE(RunUntil([&] { return Has("u:prepared"); }));
    IPreparedStatement* insert = u.statements[0];
    const unsigned char bytes[] = {0x00, 0x7f, 0xff};
    insert->SetParam(0, -2147483647 - 1);
    insert->SetParam(1, 9223372036854775807ull);
    insert->SetParam(2, -0.5);
    insert->SetParam(3, "O'Brien \\x");
    insert->SetParam(4, true);
    insert->SetParam(5, bytes, sizeof(bytes));
    db->InsertSQL(&u, insert);
    // Null pointers write NULL into every type.
    insert->SetParam(0, (int*)nullptr);
    insert->SetParam(1, (unsigned long long*)nullptr);
    insert->SetParam(2, (double*)nullptr);
    insert->SetParam(3, (const char*)nullptr);
    insert->SetParam(4, (bool*)nullptr);
    insert->SetParam(5, nullptr, 0);
    db->InsertSQL(&u, insert);
    unsigned ui = 4000000000u;
    long long ll = -5;
    bool no = false;
    insert->SetParam(0, ui);
    insert->SetParam(1, ll);
    insert->SetParam(2, 2.0);
    insert->SetParam(3, "");
    insert->SetParam(4, &no);
    insert->SetParam(5, bytes, 0);
    db->InsertSQL(&u, insert);
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT i, b, d, s, f, data FROM p ORDER BY id");
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 3"); }));
    EXPECT_EQ((std::vector<std::string>{"u:rows 0", "u:prepared", "u:id 1", "u:id 2", "u:id 3", "u:rows 3"}), events);
    EXPECT_EQ((std::vector<std::string>{"-2147483648|9223372036854775807|-0.5|O'Brien \\x|t|\\x007fff",
                                        "<null>|<null>|<null>|<null>|<null>|<null>",
                                        "-294967296|-5|2||f|\\x"}),
              u.rows);
}

TEST_F(DbTest, statement_reused_with_new_values_while_earlier_executions_wait)
{
    Connect();
    DbUser u(events, "u");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "CREATE TABLE q (id BIGSERIAL PRIMARY KEY, v INTEGER, name TEXT)");
    db->PrepareStatement(&u, "INSERT INTO q (v, name) VALUES (%i, %s)");
    db->PrepareStatement(&u, "SELECT v, name FROM q WHERE v >= %i ORDER BY id");
    ASSERT_TRUE(RunUntil([&] { return Count("u:prepared") == 2; }));
    IPreparedStatement* insert = u.statements[0];
    IPreparedStatement* select = u.statements[1];
    std::string name = "first";
    for (int v = 1; v <= 3; v++) {
        insert->SetParam(0, v);
        insert->SetParam(1, name.c_str());
        db->ExecSQL(&u, DB_EXEC_FETCH_ALL, insert);
        name = "next";  // the queued execution keeps its own copy
    }
    select->SetParam(0, 2);
    db->ExecSQL(&u, 0, select);
    ASSERT_TRUE(RunUntil([&] { return Has("u:eot"); }));
    EXPECT_EQ((std::vector<std::string>{"2|next", "3|next"}), u.rows);

    // Letting go of a statement frees it on the server too.
    u.statements.clear();
    delete insert;
    delete select;
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM pg_prepared_statements");
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 1"); }));
    EXPECT_EQ("0", u.rows.back());
}

TEST(PreparedStatementMisuse, wrong_types_and_indexes_are_fatal)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    DbCaptureDebug capture;
    PSQLPreparedStatement s(nullptr, "_STMT-0", "SELECT $1, $2, $3",
                            {PSQL_PARAM_INT, PSQL_PARAM_INT64, PSQL_PARAM_STRING});
    EXPECT_DEATH(s.SetParam(3, 1), "given index is out of range");
    EXPECT_DEATH(s.SetParam(0, 1ll), "SetParam\\(long64\\): parameter type mismatch");
    EXPECT_DEATH(s.SetParam(1, 1), "SetParam\\(int\\): parameter type mismatch");
    EXPECT_DEATH(s.SetParam(0, "1"), "SetParam\\(char \\*\\): parameter type mismatch");
    s.SetParam(0, 7);
    s.SetParam(2, (const char*)nullptr);
    s.FillParamArrays();
    EXPECT_EQ(4, s.GetLengths()[0]);
    EXPECT_EQ(1, s.GetFormats()[0]);
    EXPECT_EQ(7, s.GetValues()[0][3]);
    EXPECT_EQ(nullptr, s.GetValues()[2]);
}
