#include <string.h>

#include <string>

#include "database/sql_prepare.h"
#include "database/psql_statement_param.h"
#include "tests/database/db_test.h"

namespace {

// Formatting needs no connection: a database object that never connects.
class SqlFormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testing::FLAGS_gtest_death_test_style = "threadsafe";
        mux = new IoMux(true, 0);
        provider = CreatePostgreSQLDatabaseProvider();
        db = provider->CreateDatabase(mux, &owner, &log);
    }
    void TearDown() override
    {
        delete db;
        delete provider;
        delete mux;
    }
    std::string Print(const char* format, ...)
    {
        char buf[512];
        va_list ap;
        va_start(ap, format);
        size_t n = db->QueryPrintV(buf, sizeof(buf), format, ap);
        va_end(ap);
        EXPECT_EQ(strlen(buf), n);
        return buf;
    }

    CaptureDebug capture{true};
    IoMux* mux = nullptr;
    IDatabaseProvider* provider = nullptr;
    IInstanceLog log{LOG_DATABASE};
    std::vector<std::string> events;
    DbUser owner{events};
    IDatabase* db = nullptr;
};

TEST_F(SqlFormatTest, text_directives_quote_and_escape_their_values)
{
    EXPECT_EQ("'O''Brien'", Print("%s", "O'Brien"));
    EXPECT_EQ("NULL", Print("%s", (const char*)nullptr));
    EXPECT_EQ("''", Print("%s", ""));
    // Standard-conforming strings: a backslash is an ordinary character.
    EXPECT_EQ("'a\\b'", Print("%s", "a\\b"));
    // Double quotes inside are not escaped: identifiers come from code, not from users.
    EXPECT_EQ("\"we\"ird''s\"", Print("%S", "we\"ird's"));
    EXPECT_EQ("NULL", Print("%S", (const char*)nullptr));
    EXPECT_EQ("col''x", Print("%n", "col'x"));
    EXPECT_EQ("50\\%\\_a''b", Print("%e", "50%_a'b"));
    EXPECT_EQ("NULL", Print("%e", (const char*)nullptr));
    EXPECT_EQ("a='x' AND 1=1", Print("a=%q", "'x' AND 1=1"));
    EXPECT_EQ("100%", Print("100%%"));
    EXPECT_EQ("SELECT * FROM \"t\" WHERE a LIKE '%x%'", Print("SELECT * FROM %S WHERE a LIKE '%%%e%%'", "t", "x"));
}

TEST_F(SqlFormatTest, numbers_and_booleans_are_written_signed_and_pointers_may_be_null)
{
    EXPECT_EQ("-5 7", Print("%i %u", -5, 7u));
    EXPECT_EQ("-1", Print("%u", 4294967295u));
    EXPECT_EQ("-9223372036854775808", Print("%llu", 9223372036854775808ull));
    EXPECT_EQ("-42 42", Print("%lli %llu", -42ll, 42ull));
    EXPECT_EQ("1.500000", Print("%f", 1.5));
    EXPECT_EQ("TRUE,FALSE", Print("%b,%b", true, false));
    int i = -3;
    unsigned u = 3;
    bool b = false;
    long long ll = -4;
    unsigned long long ull = 4;
    EXPECT_EQ("-3 3 FALSE -4 4", Print("%pi %pu %pb %plli %pllu", &i, &u, &b, &ll, &ull));
    EXPECT_EQ("NULL NULL NULL NULL NULL",
              Print("%pi %pu %pb %plli %pllu", (int*)nullptr, (unsigned*)nullptr, (bool*)nullptr,
                    (long long*)nullptr, (unsigned long long*)nullptr));
}

TEST_F(SqlFormatTest, output_stops_at_the_end_of_the_buffer_but_bytes_are_written_whole_or_not_at_all)
{
    char buf[12];
    EXPECT_EQ(7u, db->QueryPrint(buf, 8, "%s", "O'Brien"));
    EXPECT_STREQ("'O''Bri", buf);
    EXPECT_EQ(7u, db->QueryPrint(buf, 8, "%lli", 123456789012ll));
    EXPECT_STREQ("1234567", buf);

    const unsigned char bytes[] = {0x01, 0xab, 0xff};
    EXPECT_EQ("x='\\x01ab'", Print("x=%du", bytes, (unsigned long long)2));
    EXPECT_EQ("'\\x'", Print("%du", bytes, (unsigned long long)0));
    // "x=" and 8 bytes fit, the 10-byte literal does not: nothing of it is written.
    EXPECT_EQ(2u, db->QueryPrint(buf, sizeof(buf), "x=%du AND y", bytes, (unsigned long long)3));
    EXPECT_STREQ("x=", buf);
    EXPECT_EQ(10u, db->QueryPrint(buf, sizeof(buf), "x=%du", bytes, (unsigned long long)2));
}

TEST_F(SqlFormatTest, search_literals_escape_wildcards)
{
    char out[32];
    EXPECT_EQ(8u, db->EscapeSearchLiterals("a%b_c'", out, sizeof(out)));
    EXPECT_STREQ("a\\%b\\_c'", out);
    EXPECT_DEATH(db->EscapeSearchLiterals("abcd", out, 8), "bufferSize < \\(strlen\\(value\\) \\* 2 \\+ 1\\)");
    EXPECT_DEATH(db->EscapeSearchLiterals(nullptr, out, 8), "EscapeSearchLiterals value not set");
}

TEST(SqlPrepare, directives_become_positional_parameters_with_declared_types)
{
    std::string text;
    std::vector<unsigned char> types;
    SqlPrepareFormat("SELECT * FROM t WHERE a=%llu AND b=%s", text, types);
    EXPECT_EQ("SELECT * FROM t WHERE a=$1 AND b=$2", text);
    EXPECT_EQ((std::vector<unsigned char>{PSQL_PARAM_INT64, PSQL_PARAM_STRING}), types);

    SqlPrepareFormat("UPDATE t SET a=%i, b=%pu, c=%f, d=%b, e=%du, f='50%%;' WHERE g=%plli;", text, types);
    EXPECT_EQ("UPDATE t SET a=$1, b=$2, c=$3, d=$4, e=$5, f='50%;' WHERE g=$6", text);
    EXPECT_EQ((std::vector<unsigned char>{PSQL_PARAM_INT, PSQL_PARAM_INT, PSQL_PARAM_DOUBLE, PSQL_PARAM_STRING,
                                          PSQL_PARAM_BYTES, PSQL_PARAM_INT64}),
              types);
}

TEST(SqlPrepare, formats_a_statement_cannot_take_are_fatal)
{
    testing::FLAGS_gtest_death_test_style = "threadsafe";
    CaptureDebug capture(true);
    std::string text;
    std::vector<unsigned char> types;
    EXPECT_DEATH(SqlPrepareFormat("SELECT %q", text, types), "%q not supported for prepared statements");
    EXPECT_DEATH(SqlPrepareFormat("SELECT a LIKE '%e'", text, types), "PrepareStatement unkown format specifier found");
    EXPECT_DEATH(SqlPrepareFormat("SELECT 1; SELECT 2;", text, types), "more than one SQL statement");
    std::string huge = "SELECT '" + std::string(9000, 'x') + "'";
    EXPECT_DEATH(SqlPrepareFormat(huge.c_str(), text, types), "SQL command too long");
}

}  // namespace

// Quoting is only right if the server reads back what was written.
TEST_F(DbTest, quoted_values_survive_a_round_trip_through_the_server)
{
    Connect();
    DbUser u(events, "u");
    unsigned char bytes[256];
    for (int i = 0; i < 256; i++) bytes[i] = (unsigned char)i;
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "CREATE TABLE q (s TEXT, n TEXT, b BYTEA)");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "INSERT INTO %S (s, %n, b) VALUES (%s, %s, %du)", "q", "n", "O'Brien \\ \"x\"",
                (const char*)nullptr, bytes, (unsigned long long)sizeof(bytes));
    const unsigned char* got = nullptr;
    size_t size = 0;
    u.onResult = [&](IDatabase*, IDataSet* ds) {
        if (ds && !ds->Eot() && ds->GetColumnCount() == 3) {
            u.rows.push_back(std::string(ds->GetStringValue("s")) + "|" + (ds->ColumnIsNull("n") ? "<null>" : "?"));
            size = ds->GetDataSize("b");
            const unsigned char* v = ds->GetDataValue("b");
            if (v && size == sizeof(bytes) && !memcmp(v, bytes, size)) got = v;
        }
        u.Note("result");
        delete ds;
    };
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT s, n, b FROM q WHERE s LIKE '%%%e%%'", "Brien");
    ASSERT_TRUE(RunUntil([&] { return Count("u:result") == 3; }));
    ASSERT_EQ(1u, u.rows.size());
    EXPECT_EQ("O'Brien \\ \"x\"|<null>", u.rows[0]);
    EXPECT_EQ(sizeof(bytes), size);
    EXPECT_NE(nullptr, got);
}
