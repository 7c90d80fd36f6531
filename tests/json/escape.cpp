#include <gtest/gtest.h>

#include <string>

#include "json/json_io.h"

namespace {

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
