#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "json/json_io.h"

namespace {

const unsigned short NONE = json_io::NONE;

// Decodes a private copy, which must outlive the document's pointers.
struct doc {
    std::string text;
    json_io json;
    bool ok;
    explicit doc(const std::string& t) : text(t), json(&text[0]), ok(json.decode()) {}
};

// A document the test needs decoded.
struct decoded : doc {
    explicit decoded(const std::string& t) : doc(t) { EXPECT_TRUE(ok) << t; }
};

std::string shape(const json_io& j)
{
    std::string s;
    for (unsigned short i = 0; i < j.items_used(); i++) {
        const json_io::item* x = j.get_item(i);
        s += std::to_string(x->type) + " " + std::to_string(x->flags) + " " +
             std::to_string(x->base == NONE ? -1 : x->base) + " " + std::to_string(x->count) + " " +
             (x->name ? x->name : "-") + "=" + (x->value ? x->value : "-") + "\n";
    }
    return s;
}

}  // namespace

TEST(json_decode, blank_text_is_an_empty_document_and_a_null_buffer_fails)
{
    for (const char* t : {"", "   ", " \t\r\n "}) {
        doc d(t);
        EXPECT_TRUE(d.ok) << '"' << t << '"';
        EXPECT_EQ(0, d.json.items_used());
        EXPECT_EQ(NONE, d.json.get_object(NONE, nullptr));
        unsigned short last = 0;
        EXPECT_EQ(NONE, d.json.get_object(NONE, last));
    }
    json_io none(nullptr);
    EXPECT_FALSE(none.decode());
}

TEST(json_decode, nested_document_is_stored_depth_first_with_terminated_texts)
{
    doc d(" {\"a\" : [ 1 ,{\"b\":\"x\"} ] , \"c\":true,\"e\":{}}\n");
    ASSERT_TRUE(d.ok);
    // type flags base count name=value, one item per line
    EXPECT_EQ("0 0 -1 6 -=-\n1 0 0 3 a=-\n2 0 1 1 -=1\n0 0 1 1 -=-\n2 1 3 1 b=x\n2 0 0 4 c=true\n0 0 0 0 e=-\n",
              shape(d.json));
}

TEST(json_decode, malformed_text_fails)
{
    const char* bad[] = {
        "{\"a\":1,}", "[1,2,]", "{\"a\":1e+5}", "{\"a\"1}", "{\"a\":1 \"b\":2}", "[1 2]", "1 2", "{} x",
        "{\"a\":", "[", "[1", "{\"a\":1", "\"abc", "\"ab\\", "{\"a\\\"b\":1}", "{,}", "[,1]", "}", "]",
        "{\"a\":1]", "[1}", "@", "+1", "{\"a", "{a:1}", "[\"x\"\"y\"]", "[[]", "{\"a\":[}",
    };
    for (const char* t : bad) {
        doc d(t);
        EXPECT_FALSE(d.ok) << t;
        EXPECT_LE(d.json.items_used(), json_io::CAPACITY);
    }
}

TEST(json_decode, unquoted_tokens_are_taken_as_written)
{
    doc top(" -12.5e3 ");
    ASSERT_TRUE(top.ok);
    EXPECT_STREQ("-12.5e3", top.json.get_value(NONE, 0, nullptr));
    EXPECT_EQ(7, top.json.get_item(0)->count);

    doc bare("true");
    ASSERT_TRUE(bare.ok);
    EXPECT_TRUE(bare.json.get_bool(NONE, nullptr));

    doc word("{\"a\":abc,\"b\":null}");
    ASSERT_TRUE(word.ok);
    bool present = true;
    EXPECT_FALSE(word.json.get_bool(0, "a", &present));
    EXPECT_FALSE(present);
    EXPECT_EQ(nullptr, word.json.get_string(0, "a"));
    EXPECT_STREQ("abc", word.json.get_value(0, 0, "a"));
    EXPECT_STREQ("null", word.json.get_value(0, 0, "b"));
}

TEST(json_decode, strings_are_unescaped_in_place_and_names_are_not)
{
    doc s("\"x\\u00e9y\"");
    ASSERT_TRUE(s.ok);
    EXPECT_STREQ("x\xc3\xa9y", s.json.get_string(NONE, nullptr));
    EXPECT_EQ(4, s.json.get_item(0)->count);

    doc names("{\"a\\u0041\":1,\"\":2,\"q\\\":3}");
    ASSERT_TRUE(names.ok);
    EXPECT_EQ(1, names.json.get_int(0, "a\\u0041"));
    EXPECT_EQ(2, names.json.get_int(0, ""));
    EXPECT_EQ(3, names.json.get_int(0, "q\\"));

    // A broken escape cuts the string but not the message.
    doc cut("[\"ab\\qcd\",\"\\u12\",\"t\\\"\\\\\\/\\n\"]");
    ASSERT_TRUE(cut.ok);
    unsigned short last = 0;
    EXPECT_STREQ("ab", cut.json.get_string(0, last));
    EXPECT_EQ(2, cut.json.get_item(last)->count);
    EXPECT_STREQ("", cut.json.get_string(0, last));
    EXPECT_STREQ("t\"\\/\n", cut.json.get_string(0, last));
}

TEST(json_decode, strings_and_names_of_every_length_find_their_quotes)
{
    for (size_t n = 0; n < 40; n++) {
        std::string plain(n, 'a');
        for (size_t i = 0; i < n; i++) plain[i] = (char)('a' + i % 26);
        doc d("{\"" + plain + "\":\"" + plain + "\",\"e\":\"" + plain + "\\t" + plain + "\"}  ");
        ASSERT_TRUE(d.ok) << n;
        EXPECT_STREQ(plain.c_str(), d.json.get_string(0, plain.c_str()));
        EXPECT_EQ(plain + "\t" + plain, d.json.get_string(0, "e"));
        EXPECT_FALSE(doc("[\"" + plain).ok);
        EXPECT_FALSE(doc("{\"" + plain).ok);
    }
}

TEST(json_decode, failed_decode_leaves_a_walkable_table_with_open_containers)
{
    doc d("{\"a\":[1,{\"b\":2,\"c\"");
    ASSERT_FALSE(d.ok);
    EXPECT_EQ("0 2 -1 4 -=-\n1 2 0 3 a=-\n2 0 1 1 -=1\n0 2 1 1 -=-\n2 0 3 1 b=2\n", shape(d.json));
    // Open containers are written without closing brackets.
    char out[64];
    memset(out, 'X', sizeof(out));
    char* o = out;
    d.json.write(0, o);
    EXPECT_EQ("{\"a\":[1,{\"b\":2", std::string(out, o - out));
}

TEST(json_decode, documents_beyond_the_item_table_fail)
{
    std::string flat = "[";
    for (int i = 1; i < json_io::CAPACITY; i++) flat += i > 1 ? ",0" : "0";
    flat += "]";
    doc full(flat);
    EXPECT_TRUE(full.ok);
    EXPECT_EQ(json_io::CAPACITY, full.json.items_used());
    doc over(flat.substr(0, flat.size() - 1) + ",0]");
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(json_io::CAPACITY, over.json.items_used());

    std::string deep = std::string(json_io::CAPACITY, '[') + std::string(json_io::CAPACITY, ']');
    doc nested(deep);
    EXPECT_TRUE(nested.ok);
    EXPECT_EQ(json_io::CAPACITY - 1, nested.json.get_item(0)->count);
    doc deeper("[" + deep + "]");
    EXPECT_FALSE(deeper.ok);
    doc hostile(std::string(1000000, '['));
    EXPECT_FALSE(hostile.ok);
    EXPECT_EQ(json_io::CAPACITY, hostile.json.items_used());
}

TEST(json_decode, values_of_64_kib_and_more_fail)
{
    std::string longest(0xffff, 'a');
    doc fits("[\"" + longest + "\"," + longest + "]");
    EXPECT_TRUE(fits.ok);
    EXPECT_EQ(0xffff, fits.json.get_item(1)->count);
    EXPECT_FALSE(doc("[\"" + longest + "a\"]").ok);
    EXPECT_FALSE(doc("[" + longest + "a]").ok);
}

TEST(json_lookup, names_find_the_first_direct_child_of_the_right_kind)
{
    decoded d("{\"o\":{\"x\":1},\"x\":2,\"x\":3,\"s\":\"5\",\"n\":5,\"l\":[\"a\"],\"d\":-1.5e2}");
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
    decoded d("{\"oct\":010,\"hex\":0x10,\"big\":18446744073709551615,\"neg\":-9223372036854775808,"
          "\"u\":4294967295}");
    EXPECT_EQ(8u, d.json.get_ulong64(0, "oct"));
    EXPECT_EQ(16, d.json.get_int(0, "hex"));
    EXPECT_EQ(18446744073709551615ull, d.json.get_ulong64(0, "big"));
    EXPECT_EQ(-9223372036854775807ll - 1, d.json.get_long64(0, "neg"));
    EXPECT_EQ(4294967295u, d.json.get_unsigned(0, "u"));
}

TEST(json_lookup, booleans_accept_exact_words_and_bool_int_reports_numbers)
{
    decoded d("{\"t\":true,\"f\":false,\"x\":True,\"n\":7,\"z\":0,\"s\":\"true\"}");
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
    decoded d("{\"a\":[1,2,\"three\",4],\"b\":[\"x\",\"y\"],\"c\":[{},[],{}]}");
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
    decoded d("{\"s\":\"v\",\"o\":{\"in\":1},\"n\":2,\"a\":[]}");
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
