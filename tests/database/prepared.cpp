#include <string.h>

#include "database/sql_params.h"
#include "database/sql_text.h"
#include "tests/database/db_test.h"

TEST_F(DbTest, prepared_statement_takes_every_parameter_type_and_queued_executions_keep_their_values)
{
    Connect();
    DbUser u(events, "u");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL,
                "CREATE TABLE p (id BIGSERIAL PRIMARY KEY, i INTEGER, b BIGINT, d FLOAT8, s TEXT, f BOOLEAN, data BYTEA)");
    db->PrepareStatement(&u, "  INSERT INTO p (i, b, d, s, f, data) VALUES (%i, %llu, %f, %s, %b, %du) RETURNING id;");
    db->PrepareStatement(&u, "SELECT i, b, d, s, f, data FROM p WHERE id >= %i ORDER BY id");
    ASSERT_TRUE(RunUntil([&] { return Count("u:prepared") == 2; }));
    IPreparedStatement* insert = u.statements[0];
    IPreparedStatement* select = u.statements[1];
    // Every execution below is queued before the first one runs.
    const unsigned char bytes[] = {0x00, 0x7f, 0xff};
    char text[] = "O'Brien \\x";
    insert->SetParam(0, -2147483647 - 1);
    insert->SetParam(1, 9223372036854775807ull);
    insert->SetParam(2, -0.5);
    insert->SetParam(3, text);
    insert->SetParam(4, true);
    insert->SetParam(5, bytes, sizeof(bytes));
    db->InsertSQL(&u, insert);
    text[0] = 'X';  // the queued execution keeps its own copy
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
    select->SetParam(0, 1);
    db->ExecSQL(&u, 0, select);
    ASSERT_TRUE(RunUntil([&] { return Has("u:eot"); }));
    EXPECT_EQ((std::vector<std::string>{"u:rows 0", "u:prepared", "u:prepared", "u:id 1", "u:id 2", "u:id 3", "u:eot"}),
              events);
    EXPECT_EQ((std::vector<std::string>{"-2147483648|9223372036854775807|-0.5|O'Brien \\x|t|\\x007fff",
                                        "<null>|<null>|<null>|<null>|<null>|<null>",
                                        "-294967296|-5|2||f|\\x"}),
              u.rows);

    // Letting go of a statement frees it on the server too.
    u.statements.clear();
    delete insert;
    delete select;
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM pg_prepared_statements");
    ASSERT_TRUE(RunUntil([&] { return Has("u:rows 1"); }));
    EXPECT_EQ("0", u.rows.back());
}

TEST_F(DbTest, a_shape_runs_as_text_once_then_prepared_with_the_same_rows)
{
    Connect();
    DbUser u(events, "u");
    const char* tricky = "O'Brien \\ 100% \xF0\x9F\x98\x80";
    char shape[512];
    SqlParams params;
    SqlText sql(shape, sizeof(shape), &params);
    sql.Print("SELECT %s AS s,%s AS n,%llu AS b,%u AS i,%q AS q,", tricky, (const char*)nullptr,
              9223372036854775807ull, 7u, "'100%'");
    sql.Print("%s LIKE '%e%%' AS l", "50% off_x", "50% off_");
    // A piece that does not fit takes back the values it had added.
    char small[4];
    SqlText cut(small, sizeof(small), &params);
    EXPECT_FALSE(cut.Print("%s %s", "a", "b"));
    ASSERT_EQ(5u, params.Count());
    EXPECT_EQ("SELECT %s AS s,%s AS n,%llu AS b,%u AS i,'100%%' AS q,%s LIKE '50\\%% off\\_%%' AS l",
              std::string(shape));

    // The server cannot type "$1 IS NULL": that shape stays text.
    char untyped[64];
    SqlParams one;
    SqlText(untyped, sizeof(untyped), &one).Print("SELECT %s IS NULL", "x");
    for (int run = 0; run < 4; run++) {
        db->ExecSQLParams(&u, DB_EXEC_FETCH_ALL, shape, params);
        db->ExecSQLParams(&u, DB_EXEC_FETCH_ALL, untyped, one);
    }
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT count(*) FROM pg_prepared_statements");
    // The connection's own settings: generic plans at once, nothing compiled.
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL,
                "SELECT current_setting('plan_cache_mode') || ' ' || current_setting('jit') || ' ' || "
                "current_setting('application_name')");
    ASSERT_TRUE(RunUntil([&] { return Count("u:rows 1") == 10; }));
    const std::string row = std::string(tricky) + "|<null>|9223372036854775807|7|100%|t";
    EXPECT_EQ((std::vector<std::string>{row, "f", row, "f", row, "f", row, "f", "1", "force_generic_plan off messages"}),
              u.rows);
}

// The same statements on a connection that sends byte strings as hex text
// (the default) and on one that sends them binary.
class PreparedStatementBytes : public DbTest, public ::testing::WithParamInterface<db_bytes_params_t> {
protected:
    void SetUp() override
    {
        DbTest::SetUp();
        delete provider;
        provider = CreatePostgreSQLDatabaseProvider(GetParam());
    }
    IPreparedStatement* Prepare(DbUser& u, const char* format)
    {
        size_t before = u.statements.size();
        db->PrepareStatement(&u, format);
        EXPECT_TRUE(Answered(u, [&] { return u.statements.size() > before; }));
        return u.statements.size() > before ? u.statements.back() : nullptr;
    }
    // Runs until `done` holds or the server has refused a command of `u`.
    bool Answered(DbUser& u, const std::function<bool()>& done)
    {
        std::string failed = u.name + ":" + DbErrorName(DB_ERR_SQL_COMMAND_FAILED);
        return RunUntil([&] { return done() || Has(failed); }) && done();
    }
};

static std::string Decoded(IDataSet* ds, int column)
{
    const unsigned char* v = ds->GetDataValue(column);
    size_t n = ds->GetDataSize(column);
    EXPECT_EQ(n == 0, v == nullptr);
    return v ? std::string((const char*)v, n) : std::string();
}

TEST_P(PreparedStatementBytes, every_byte_value_and_the_empty_value_survive_a_prepared_round_trip)
{
    Connect();
    DbUser u(events, "u");
    std::string all;
    for (int i = 0; i < 256; i++) all += (char)i;
    std::string big;
    for (size_t i = 0; i < 64000; i++) big += (char)(i * 7 + (i >> 9));
    const std::vector<std::string> values{all, "", big, std::string(1, '\0')};

    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "CREATE TABLE b (id BIGSERIAL PRIMARY KEY, data BYTEA, tag BIGINT)");
    IPreparedStatement* insert = Prepare(u, "INSERT INTO b (data, tag) VALUES (%du,%llu)");
    ASSERT_NE(nullptr, insert);
    for (size_t i = 0; i < values.size(); i++) {
        insert->SetParam(0, (const unsigned char*)values[i].data(), values[i].size());
        insert->SetParam(1, (unsigned long long)i);
        db->ExecSQL(&u, DB_EXEC_FETCH_ALL, insert);
    }
    insert->SetParam(0, nullptr, 0);
    insert->SetParam(1, 99ull);
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, insert);
    // The same value written as SQL text, for the server to compare.
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "INSERT INTO b (data, tag) VALUES (%du, 100)", (const unsigned char*)all.data(),
                (unsigned long long)all.size());
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL,
                "SELECT tag, length(data), data IS NULL, data = (SELECT data FROM b WHERE tag = 100) "
                "FROM b ORDER BY id");
    ASSERT_TRUE(Answered(u, [&] { return Has("u:rows 6"); }));
    EXPECT_EQ((std::vector<std::string>{"0|256|f|t", "1|0|f|f", "2|64000|f|f", "3|1|f|f", "99|<null>|t|<null>",
                                        "100|256|f|t"}),
              u.rows);

    // Read back through a bytea comparison in the WHERE clause, several rows
    // of different sizes from one data set.
    IPreparedStatement* select = Prepare(u, "SELECT data, tag FROM b WHERE data <> %du OR data IS NULL ORDER BY id");
    ASSERT_NE(nullptr, select);
    std::vector<std::string> back;
    u.onResult = [&](IDatabase*, IDataSet* ds) {
        for (; ds && !ds->Eot(); ds->Next()) back.push_back(std::to_string(ds->GetIntValue(1)) + ":" + Decoded(ds, 0));
        delete ds;
        u.Note("read");
    };
    select->SetParam(0, (const unsigned char*)"\x01", 1);
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, select);
    ASSERT_TRUE(Answered(u, [&] { return Has("u:read"); }));
    EXPECT_EQ((std::vector<std::string>{"0:" + all, "1:", "2:" + big, "3:" + values[3], "99:", "100:" + all}), back);

    // Without a column to compare with, the server types the value itself;
    // the text that comes back is the same either way.
    IPreparedStatement* echo = Prepare(u, "SELECT %du");
    ASSERT_NE(nullptr, echo);
    back.clear();
    echo->SetParam(0, (const unsigned char*)"\x00\xff", 2);
    u.onResult = [&](IDatabase*, IDataSet* ds) {
        back.push_back(ds->GetStringValue(0));
        back.push_back(Decoded(ds, 0));
        delete ds;
        u.Note("echo");
    };
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, echo);
    ASSERT_TRUE(Answered(u, [&] { return Has("u:echo"); }));
    EXPECT_EQ((std::vector<std::string>{"\\x00ff", std::string("\x00\xff", 2)}), back);
}

INSTANTIATE_TEST_SUITE_P(Forms, PreparedStatementBytes, ::testing::Values(DB_BYTES_PARAMS_TEXT, DB_BYTES_PARAMS_BINARY),
                         [](const ::testing::TestParamInfo<db_bytes_params_t>& info) {
                             return std::string(info.param == DB_BYTES_PARAMS_BINARY ? "binary" : "text");
                         });
