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
