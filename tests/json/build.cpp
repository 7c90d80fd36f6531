#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>

#include "json/json_io.h"

namespace {

const unsigned short NONE = json_io::NONE;

struct builder {
    char out[8192];
    char scratch[4096];
    char* tmp = scratch;
    json_io json{out};
    std::string encode()
    {
        unsigned short n = json.encode();
        EXPECT_EQ(n, strlen(out));
        return std::string(out, n);
    }
};

std::string escaped(const std::string& s, unsigned short len = 0xffff)
{
    char out[2048];
    unsigned n = json_io::escape(s.data(), len == 0xffff ? (unsigned short)s.size() : len, out);
    EXPECT_EQ(n, std::char_traits<char>::length(out));
    return std::string(out, n);
}

std::string unescaped(std::string s)
{
    unsigned n = json_io::unescape(&s[0], s.c_str());
    EXPECT_EQ(n, std::char_traits<char>::length(s.c_str()));
    return s.substr(0, n);
}

}  // namespace

TEST(json_build, adds_out_of_document_order_add_nothing)
{
    builder b;
    unsigned short o = b.json.add_object(NONE, nullptr);
    unsigned short inner = b.json.add_object(o, "inner");
    b.json.add_int(inner, "i", 1, b.tmp);
    unsigned short list = b.json.add_array(o, "list");
    b.json.add_string(inner, "late", "no");   // inner's subtree no longer ends the table
    EXPECT_EQ(0, b.json.add_object(NONE, "second"));
    EXPECT_EQ(0, b.json.add_array(2, "under_value"));
    b.json.add_null(100, "beyond");
    b.json.add_null(list, nullptr);
    b.json.add_int(o, "after", -1, b.tmp);  // an open ancestor takes more children
    EXPECT_EQ("{\"inner\":{\"i\":1},\"list\":[null],\"after\":-1}", b.encode());

    json_io empty(b.out);
    EXPECT_EQ(0, empty.encode());
}

TEST(json_build, value_kinds_are_formatted_into_scratch)
{
    builder b;
    unsigned short a = b.json.add_array(NONE, nullptr);
    b.json.add_int(a, nullptr, INT_MIN, b.tmp);
    b.json.add_unsigned(a, nullptr, UINT_MAX, b.tmp);
    b.json.add_long64(a, nullptr, LLONG_MIN, b.tmp);
    b.json.add_ulong64(a, nullptr, ULLONG_MAX, b.tmp);
    b.json.add_double(a, nullptr, 3.14159, b.tmp, 2);
    b.json.add_double(a, nullptr, -2.5, b.tmp, 0);
    b.json.add_printf(a, nullptr, b.tmp, "%s-%03d", "id", 7);
    const unsigned char bytes[] = {0x00, 0xab, 0x7f};
    b.json.add_hexstring(a, nullptr, bytes, 3, b.tmp);
    b.json.add_json(a, "ignored name", "{\"raw\":[1]}");
    b.json.add_string(a, nullptr, "truncated", 5);
    const unsigned short ucs2[] = {'A', 0xe9, 0x20ac, 0};
    b.json.add_string(a, nullptr, ucs2, 0xffff, b.tmp);
    b.json.add_string(a, nullptr, ucs2, 2, b.tmp);
    b.json.add_null(a, nullptr);
    b.json.add_bool(a, nullptr, true);
    b.json.add_bool(a, nullptr, false);
    // Scratch is used up also when the item cannot be attached; a null text takes none.
    char* before = b.tmp;
    b.json.add_int(NONE, "x", 12345, b.tmp);
    b.json.add_string(a, nullptr, (const unsigned short*)nullptr, 0xffff, b.tmp);
    EXPECT_EQ(before + 6, b.tmp);
    EXPECT_EQ("[-2147483648,4294967295,-9223372036854775808,18446744073709551615,3.14,-2,\"id-007\","
              "\"00ab7f\",{\"raw\":[1]},\"trunc\",\"A\xc3\xa9\xe2\x82\xac\",\"A\xc3\xa9\",null,true,false]",
              b.encode());
}

TEST(json_build, replace_string_swaps_the_value_or_appends_and_null_values_are_skipped)
{
    builder b;
    b.json.add_object(NONE, nullptr);
    b.json.add_string(0, "a", "old");
    b.json.add_int(0, "n", 1, b.tmp);
    b.json.add_replace_string(0, "a", "new value", 3);
    b.json.add_replace_string(0, "n", "not the number");
    b.json.add_replace_string(0, "gone", nullptr);
    EXPECT_EQ("{\"a\":\"new\",\"n\":1,\"n\":\"not the number\"}", b.encode());
    b.json.add_replace_string(0, "a", nullptr);
    EXPECT_EQ(0, b.json.get_item(1)->count);
    EXPECT_EQ("{\"n\":1,\"n\":\"not the number\"}", b.encode());
}

TEST(json_build, strings_are_escaped_and_names_and_raw_json_are_not)
{
    builder b;
    b.json.add_object(NONE, nullptr);
    b.json.add_string(0, "t\"n", "a\tb\"c\x01/d\xc3\xa9");
    b.json.add_json(0, "raw", "\"\\u0041\"");
    EXPECT_EQ("{\"t\"n\":\"a\\tb\\\"c\\u0001/d\xc3\xa9\",\"raw\":\"\\u0041\"}", b.encode());
}

TEST(json_build, single_unquoted_value_is_written_without_terminator)
{
    builder b;
    memset(b.out, 'X', sizeof(b.out));
    b.json.add_json(NONE, nullptr, "42");
    EXPECT_EQ(2, b.json.encode());
    EXPECT_EQ('X', b.out[2]);
    json_io s(b.out);
    s.add_string(NONE, nullptr, "42");
    EXPECT_EQ(4, s.encode());
    EXPECT_STREQ("\"42\"", b.out);
}

TEST(json_build, full_table_takes_no_more_items)
{
    builder b;
    unsigned short a = b.json.add_array(NONE, nullptr);
    for (int i = 1; i < json_io::CAPACITY; i++) b.json.add_bool(a, nullptr, true);
    ASSERT_EQ(json_io::CAPACITY, b.json.items_used());
    b.json.add_bool(a, nullptr, false);
    EXPECT_EQ(0, b.json.add_object(a, nullptr));
    EXPECT_EQ(json_io::CAPACITY, b.json.items_used());
    EXPECT_EQ(json_io::CAPACITY - 1, b.json.get_item(0)->count);
    b.json.reset();
    EXPECT_EQ(0, b.json.items_used());
    EXPECT_EQ(0, b.json.add_object(NONE, nullptr));
}

TEST(json_build, decoded_text_reencodes_compactly_and_subtrees_can_be_copied_out)
{
    std::string text = " { \"a\" : [ 1 , \"x\\ty\\u0001\" ] , \"b\" : { } , \"c\":[[]] } ";
    json_io in(&text[0]);
    ASSERT_TRUE(in.decode());
    char out[256];
    char* o = out;
    in.write(0, o);
    EXPECT_EQ("{\"a\":[1,\"x\\ty\\u0001\"],\"b\":{},\"c\":[[]]}", std::string(out, o - out));
    EXPECT_EQ('\0', *o);
    o = out;
    in.write(in.get_array(0, "a"), o);
    EXPECT_EQ("[1,\"x\\ty\\u0001\"]", std::string(out, o - out));
}

TEST(json_escape, control_bytes_quotes_and_backslashes_are_escaped_utf8_passes)
{
    EXPECT_EQ("\\b\\t\\n\\f\\r\\\"\\\\", escaped("\b\t\n\f\r\"\\"));
    EXPECT_EQ("\\u0001\\u000b\\u001f", escaped("\x01\x0b\x1f"));
    EXPECT_EQ("/\x7f\xc3\xa9\xff", escaped("/\x7f\xc3\xa9\xff"));
    EXPECT_EQ("ab", escaped(std::string("ab\0cd", 5)));
    EXPECT_EQ("abc", escaped("abcdef", 3));
    EXPECT_EQ("", escaped("abc", 0));
    char out[4] = "xyz";
    EXPECT_EQ(0u, json_io::escape(nullptr, 5, out));
    EXPECT_EQ('\0', out[0]);
}

TEST(json_escape, unescape_decodes_every_escape_and_code_units_one_by_one)
{
    EXPECT_EQ("\"/\\\b\f\n\r\t", unescaped("\\\"\\/\\\\\\b\\f\\n\\r\\t"));
    EXPECT_EQ("A\xc3\xa9\xe2\x82\xac", unescaped("\\u0041\\u00E9\\u20ac"));
    // Surrogates are not paired: each half becomes three bytes of its own.
    EXPECT_EQ("\xed\xa0\xbd\xed\xb8\x80", unescaped("\\ud83d\\ude00"));
    // The four characters are read the way strtoul reads them.
    EXPECT_EQ("A", unescaped("\\u0x41"));
    EXPECT_EQ(std::string("\x01", 1) + "x", unescaped("\\u01zzx"));
}

TEST(json_escape, every_byte_survives_escape_then_unescape)
{
    std::string all;
    for (int c = 1; c < 256; c++) all += (char)c;
    EXPECT_EQ(all, unescaped(escaped(all)));
}
