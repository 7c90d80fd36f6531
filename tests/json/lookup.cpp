#include <gtest/gtest.h>

#include <string>

#include "json/json_io.h"

namespace {

const unsigned short NONE = json_io::NONE;

struct doc {
    std::string text;
    json_io json;
    explicit doc(const std::string& t) : text(t), json(&text[0]) { EXPECT_TRUE(json.decode()) << t; }
};

}  // namespace

TEST(json_lookup, names_find_the_first_direct_child_of_the_right_kind)
{
    doc d("{\"o\":{\"x\":1},\"x\":2,\"x\":3,\"s\":\"5\",\"n\":5,\"l\":[\"a\"],\"d\":-1.5e2}");
    json_io& j = d.json;
    EXPECT_EQ(0, j.get_object(NONE, nullptr));
    EXPECT_EQ(NONE, j.get_object(NONE, "o"));
    EXPECT_EQ(1, j.get_object(0, "o"));
    EXPECT_EQ(NONE, j.get_array(0, "o"));
    EXPECT_EQ(7, j.get_array(0, "l"));
    EXPECT_EQ(2, j.get_int(0, "x"));  // skips the nested "x", first duplicate wins
    EXPECT_EQ(1, j.get_int(1, "x"));
    EXPECT_EQ(5, j.get_id(0, json_io::FLAG_QUOTED, "s"));
    EXPECT_EQ(NONE, j.get_id(0, 0, "s"));
    EXPECT_DOUBLE_EQ(-150.0, j.get_double(0, "d"));

    bool present = true;
    EXPECT_EQ(0, j.get_int(0, "s", &present));
    EXPECT_FALSE(present);
    EXPECT_STREQ("5", j.get_string(0, "s"));
    EXPECT_EQ(nullptr, j.get_string(0, "n"));
    EXPECT_EQ(5u, j.get_unsigned(0, "n", &present));
    EXPECT_TRUE(present);
    EXPECT_EQ(0, j.get_long64(0, "missing", &present));
    EXPECT_FALSE(present);
    EXPECT_EQ(NONE, j.get_object(NONE, "x"));
    EXPECT_EQ(NONE, j.get_object(2, "x"));  // a value has no children
    EXPECT_EQ(NONE, j.get_object(500, "x"));
}

TEST(json_lookup, numbers_convert_with_base_prefixes_and_full_width)
{
    doc d("{\"oct\":010,\"hex\":0x10,\"big\":18446744073709551615,\"neg\":-9223372036854775808,"
          "\"u\":4294967295}");
    EXPECT_EQ(8u, d.json.get_ulong64(0, "oct"));
    EXPECT_EQ(16, d.json.get_int(0, "hex"));
    EXPECT_EQ(18446744073709551615ull, d.json.get_ulong64(0, "big"));
    EXPECT_EQ(-9223372036854775807ll - 1, d.json.get_long64(0, "neg"));
    EXPECT_EQ(4294967295u, d.json.get_unsigned(0, "u"));
}

TEST(json_lookup, booleans_accept_exact_words_and_bool_int_reports_numbers)
{
    doc d("{\"t\":true,\"f\":false,\"x\":True,\"n\":7,\"z\":0,\"s\":\"true\"}");
    // name, get_bool with its presence, get_bool_int with value and presence
    struct {
        const char* name;
        bool b, b_present, bi;
        int value;
        unsigned char bi_present;
    } cases[] = {{"t", true, true, true, 1, 1},     {"f", false, true, false, 0, 1}, {"x", false, false, false, 0, 2},
                 {"n", false, false, true, 7, 2},   {"z", false, false, false, 0, 2}, {"s", false, false, false, -1, 0}};
    for (const auto& c : cases) {
        bool present;
        int value = -1;
        unsigned char how;
        EXPECT_EQ(c.b, d.json.get_bool(0, c.name, &present)) << c.name;
        EXPECT_EQ(c.b_present, present) << c.name;
        EXPECT_EQ(c.bi, d.json.get_bool_int(0, c.name, value, &how)) << c.name;
        EXPECT_EQ(c.value, value) << c.name;
        EXPECT_EQ(c.bi_present, how) << c.name;
    }
}

TEST(json_lookup, cursor_walk_stops_at_another_kind_and_stays_finished)
{
    doc d("{\"a\":[1,2,\"three\",4],\"b\":[\"x\",\"y\"],\"c\":[{},[],{}]}");
    json_io& j = d.json;
    unsigned short a = j.get_array(0, "a"), last = 0;
    bool present = false;
    EXPECT_EQ(1, j.get_int(a, last, &present));
    EXPECT_EQ(2u, j.get_unsigned(a, last, &present));
    EXPECT_EQ(0, j.get_long64(a, last, &present));  // "three" is quoted: none, cursor moved on
    EXPECT_FALSE(present);
    EXPECT_EQ(4u, j.get_ulong64(a, last, &present));
    EXPECT_TRUE(present);
    EXPECT_EQ(0, j.get_double(a, last, &present));
    EXPECT_FALSE(present);
    EXPECT_EQ(NONE, last);
    EXPECT_FALSE(j.get_bool(a, last, &present));
    EXPECT_EQ(NONE, last);

    std::string strings;
    last = 0;
    while (const char* s = j.get_string(j.get_array(0, "b"), last)) strings += s;
    EXPECT_EQ("xy", strings);

    unsigned short c = j.get_array(0, "c");
    last = 0;
    EXPECT_NE(NONE, j.get_object(c, last));
    EXPECT_NE(NONE, j.get_array(c, last));
    EXPECT_NE(NONE, j.get_object(c, last));
    EXPECT_EQ(NONE, j.get_object(c, last));
    EXPECT_EQ(NONE, last);
}

TEST(json_lookup, generic_walks_visit_every_direct_child)
{
    doc d("{\"s\":\"v\",\"o\":{\"in\":1},\"n\":2,\"a\":[]}");
    json_io& j = d.json;
    std::string seen;
    unsigned short last = 0;
    unsigned char type, flags;
    const char *name, *value;
    while (j.get_next(0, last, type, flags, name, value) != NONE)
        seen += std::string(name) + ":" + std::to_string(type) + std::to_string(flags) + (value ? value : "") + " ";
    EXPECT_EQ("s:21v o:00 n:202 a:10 ", seen);

    EXPECT_EQ(1, j.get_first(json_io::ANY, 0));
    EXPECT_EQ(2, j.get_first(json_io::OBJECT, 0));
    EXPECT_EQ(4, j.get_next(json_io::VALUE, 0, 1));
    EXPECT_EQ(5, j.get_next(json_io::ARRAY, 0, 0));
    EXPECT_EQ(NONE, j.get_next(json_io::OBJECT, 0, 2));
    EXPECT_EQ(NONE, j.get_first(json_io::ANY, 5));

    // The document level holds the top-level item only.
    last = 0;
    EXPECT_EQ(0, j.get_object(NONE, last));
    EXPECT_EQ(NONE, j.get_object(NONE, last));
    EXPECT_EQ(0, j.get_first(json_io::OBJECT, NONE));
}
