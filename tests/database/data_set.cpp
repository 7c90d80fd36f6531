#include <string.h>

#include "database/bytea_hex.h"
#include "tests/database/db_test.h"

TEST_F(DbTest, value_getters_convert_the_text_of_the_current_row)
{
    Connect();
    DbUser u(events, "u");
    u.onResult = [&](IDatabase*, IDataSet* ds) {
        ASSERT_FALSE(ds->Eot());
        EXPECT_EQ(-7, ds->GetIntValue("i"));
        EXPECT_EQ(4294967295u, ds->GetUIntValue("u"));
        EXPECT_EQ(-9007199254740993ll, ds->GetLong64Value("ll"));
        EXPECT_EQ(16ull, ds->GetULong64Value("hex"));
        EXPECT_EQ(18446744073709551615ull, ds->GetULong64Value("ull"));
        EXPECT_DOUBLE_EQ(1.25, ds->GetDoubleValue("d"));
        EXPECT_TRUE(ds->GetBoolValue("t"));
        EXPECT_FALSE(ds->GetBoolValue("f"));
        EXPECT_FALSE(ds->GetBoolValue("yes"));
        EXPECT_TRUE(ds->GetBoolValue("one"));
        EXPECT_TRUE(ds->GetBoolValue("upper_t"));
        EXPECT_TRUE(ds->GetBoolValue("mixed_true"));
        EXPECT_FALSE(ds->GetBoolValue("n"));
        EXPECT_TRUE(ds->ColumnIsNull("n"));
        EXPECT_FALSE(ds->ColumnIsNull("empty"));
        EXPECT_STREQ("", ds->GetStringValue("n"));
        EXPECT_EQ(nullptr, ds->GetStringValueWithNull("n"));
        EXPECT_STREQ("", ds->GetStringValueWithNull("empty"));
        EXPECT_STREQ("O'Brien", ds->GetStringValue("txt"));

        int txt = ds->GetColumnID("txt");
        EXPECT_STREQ("txt", ds->GetColumnName(txt));
        EXPECT_EQ(-1, ds->GetColumnID("missing"));
        EXPECT_TRUE(ds->ColumnIsString(txt));
        EXPECT_TRUE(ds->ColumnIsString(ds->GetColumnID("vc")));
        EXPECT_FALSE(ds->ColumnIsString(ds->GetColumnID("i")));

        EXPECT_EQ(3u, ds->GetDataSize("bytes"));
        const unsigned char* data = ds->GetDataValue("bytes");
        ASSERT_NE(nullptr, data);
        EXPECT_EQ(0x01, data[0]);
        EXPECT_EQ(0xab, data[1]);
        EXPECT_EQ(0x00, data[2]);
        EXPECT_EQ(0u, ds->GetDataSize("no_bytes"));
        EXPECT_EQ(nullptr, ds->GetDataValue("no_bytes"));
        u.Note("checked");
        delete ds;
    };
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL,
                "SELECT -7 AS i, 4294967295 AS u, -9007199254740993 AS ll, '0x10' AS hex, "
                "18446744073709551615::numeric AS ull, 1.25::float8 AS d, TRUE AS t, FALSE AS f, 'yes' AS yes, "
                "'1' AS one, 'T' AS upper_t, 'tRuE' AS mixed_true, NULL AS n, ''::text AS empty, "
                "%s::text AS txt, 'v'::varchar(4) AS vc, %du AS bytes, ''::bytea AS no_bytes",
                "O'Brien", (const unsigned char*)"\x01\xab", (unsigned long long)3);
    ASSERT_TRUE(RunUntil([&] { return Has("u:checked"); }));
}

TEST_F(DbTest, next_walks_the_rows_and_commands_report_affected_rows)
{
    Connect();
    DbUser u(events, "u");
    std::vector<unsigned long long> affected;
    u.onResult = [&](IDatabase*, IDataSet* ds) {
        affected.push_back(ds->GetAffectedRows());
        for (; !ds->Eot(); ds->Next()) u.rows.push_back(DbUser::Row(ds));
        ds->Next();  // past the end stays at the end
        EXPECT_TRUE(ds->Eot());
        u.Note("done");
        delete ds;
    };
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "CREATE TABLE t AS SELECT g FROM generate_series(1, 5) g");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "UPDATE t SET g = g * 10 WHERE g > 2");
    db->ExecSQL(&u, DB_EXEC_FETCH_ALL, "SELECT g FROM t ORDER BY g");
    ASSERT_TRUE(RunUntil([&] { return Count("u:done") == 3; }));
    EXPECT_EQ((std::vector<unsigned long long>{5, 3, 5}), affected);
    EXPECT_EQ((std::vector<std::string>{"1", "2", "30", "40", "50"}), u.rows);
}

TEST(PostgreSQLDataSetHex, hex_form_carries_every_byte_value_both_ways)
{
    unsigned char all[256], back[256];
    for (int i = 0; i < 256; i++) all[i] = (unsigned char)i;
    char text[512];
    ByteaHexEncode(all, sizeof(all), text);
    EXPECT_EQ("00017f80feff", std::string(text, 4) + std::string(text + 254, 4) + std::string(text + 508, 4));
    ByteaHexDecode(text, sizeof(back), back);
    EXPECT_EQ(0, memcmp(all, back, sizeof(all)));
    // Either case; anything else reads as a zero digit, never past the input.
    ByteaHexDecode("ABcd0fg1", 4, back);
    EXPECT_EQ(0, memcmp("\xab\xcd\x0f\x01", back, 4));
}
