// The static file table and its files served by the link itself. The built-in
// client's files, their tags, 304s and ranges through the real processes are
// covered end to end (tests/e2e/static_files.cpp, files.cpp); here the exact
// messages: parts paced by send results, a refused range, what the owner sees.
#include <deque>

#include "tests/web/fake_webserver.h"
#include "web/httpfile.h"

using namespace web_test;

namespace {

std::string Pattern(size_t len)
{
    std::string s(len, '\0');
    for (size_t i = 0; i < len; i++) s[i] = (char)(i * 7 + i / 256);
    return s;
}

const std::string big = Pattern(150000);
const unsigned char font[] = "0123456789";
const unsigned char text[] = "deep";
const httpfile testFiles[] = {
    {"big.bin", 0, (const unsigned char*)big.data(), 150000},
    {"font.ttf", HTTPFILE_GZIP, font, 10},
    {"hidden.txt", HTTPFILE_HIDDEN, text, 4},
    {"sub/deep.js", 0, text, 4},
};

// A link whose root serves the table below the prefix "42/", and whose
// "sub" path serves "sub/..." files right below it.
class static_files : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        HttpFiles::Register(testFiles, 4);
        Listen();
        Create("/app");
        link->HttpListen(nullptr, nullptr, nullptr, nullptr, " /42/ ");
        link->HttpListen("sub", nullptr, nullptr, nullptr, nullptr);
        Connect(2);
    }
    // The body bytes of a static answer, confirming each part as it comes.
    std::string Body(unsigned id)
    {
        std::string body;
        for (;;) {
            Frame f = ws->Next();
            EXPECT_EQ(f.id, id);
            if (f.type != 9) {
                EXPECT_EQ(f.type, 18u);
                break;
            }
            body += f.body;
            ws->Send(id, 10, 0);
        }
        ws->Send(id, 15, 0);
        return body;
    }
    static std::string Range(unsigned kind, unsigned long long start, unsigned long long end)
    {
        return Be32(1) + (char)kind + Be64(start) + Be64(end);
    }
};

}  // namespace

TEST(static_file_table, content_types_follow_the_suffix_and_unknown_ones_are_text_with_a_warning)
{
    CaptureDebug capture;
    struct Case {
        const char* name;
        wsr_type_t type;
    } cases[] = {
        {"a.html", WSP_RESPONSE_HTML},     {"lib/x.woff2", WSP_RESPONSE_WOFF},       {"b.opus-wb", WSP_RESPONSE_OPUS},
        {"c.g711u", WSP_RESPONSE_G711},    {"d.appcache", WSP_RESPONSE_CACHE_MANIFEST}, {"e.jpeg", WSP_RESPONSE_JPEG},
        {"f.soap", WSP_RESPONSE_XML},      {"g.csv", WSP_RESPONSE_CSV},              {"h.mobileconfig", WSP_RESPONSE_MOBILECONFIG},
        {"dir.v2/file", WSP_RESPONSE_TEXT},
    };
    for (const Case& c : cases) EXPECT_EQ(HttpFiles::ContentType(c.name), c.type) << c.name;
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], "WARNING: Unkown file type for static file dir.v2/file - using text");
}

TEST(static_file_table, a_name_registered_again_replaces_the_entry_with_a_warning)
{
    CaptureDebug capture;
    // The table outlives a test run; each run needs a name of its own.
    static std::deque<std::string> names;
    static std::deque<httpfile> entries;
    static const unsigned char one[] = "one", two[] = "two";
    names.push_back("again" + std::to_string(names.size()) + ".txt");
    const char* name = names.back().c_str();
    entries.push_back({name, 0, one, 3});
    HttpFiles::Register(&entries.back(), 1);
    EXPECT_TRUE(capture.lines.empty());
    entries.push_back({name, HTTPFILE_GZIP, two, 3});
    HttpFiles::Register(&entries.back(), 1);
    const HttpFile* f = HttpFiles::Find(name);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Content(), two);
    EXPECT_TRUE(f->Gzip());
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_NE(capture.lines[0].find(name), std::string::npos);
}

TEST_F(static_files, a_whole_file_goes_out_in_parts_each_after_the_previous_send_result)
{
    Request(1, 5, "/42/big.bin");
    auto items = ParseEh(ws->Expect(11).body);
    EXPECT_EQ(items[11], Be16(WSP_RESPONSE_BINARY) + Be16(0));
    EXPECT_EQ(items[17], Be64(150000));
    EXPECT_EQ(ItemString(items, 2), HttpFiles::Find("big.bin")->ETag());
    Frame first = ws->Expect(9);
    EXPECT_EQ(first.body.size(), 65535u);
    EXPECT_TRUE(ws->Sync().empty()) << "the next part went out before the send result";
    ws->Send(1, 10, 0);
    EXPECT_EQ(first.body + Body(1), big);
    EXPECT_FALSE(owner.Has("http 1 /42/big.bin [] 0")) << "the owner was asked about a static file";
}

TEST_F(static_files, a_range_gets_its_bytes_and_a_range_that_cannot_be_served_is_refused)
{
    // Start beyond end, and a range the webserver could not parse.
    for (const std::string& bad : {Range(1, 10, 5), Range(0, 0, 0)}) {
        Request(3, 5, "/42/big.bin", Eh().Raw(3, bad));
        Frame f = ws->Expect(11);
        EXPECT_EQ(f.gp, 17u);
        EXPECT_TRUE(f.body.empty());
        ws->Send(3, 15, 0);
    }
    Request(10, 5, "/42/big.bin", Eh().Raw(3, Range(3, 5, 0)));
    auto items = ParseEh(ws->Expect(11).body);
    EXPECT_EQ(items[17], Be64(150000)) << "the whole length, with the range beside it";
    EXPECT_EQ(items[3], Range(1, 149995, 149999));
    EXPECT_EQ(Body(10), big.substr(149995));

    // Compressed content says so, except for a single byte; fonts may be fetched cross-origin.
    Request(20, 5, "/42/font.ttf");
    auto font = ParseEh(ws->Expect(11).body);
    EXPECT_EQ(font[11], Be16(WSP_RESPONSE_TTF) + Be16(1));
    // A developer build's files are revalidated: their folder stays the same across builds.
    EXPECT_EQ(font[5], std::string("Cache-Control\0no-cache\0Access-Control-Allow-Origin\0*\0", 53));
    EXPECT_EQ(Body(20), "0123456789");
    Request(21, 5, "/42/font.ttf", Eh().Raw(3, Range(1, 3, 3)));
    EXPECT_EQ(ParseEh(ws->Expect(11).body)[11], Be16(WSP_RESPONSE_TTF) + Be16(0));
    EXPECT_EQ(Body(21), "3");
}

TEST_F(static_files, only_visible_files_below_the_static_prefix_are_answered_by_the_link)
{
    const char* ownerAsked[] = {"/big.bin", "/41/big.bin", "/42/hidden.txt", "/42/none.js", "/42/"};
    unsigned id = 30;
    for (const char* resource : ownerAsked) {
        Request(id++, 5, resource);
        EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND) << resource;
        EXPECT_TRUE(owner.Has(std::string("http 1 ") + resource + " [] 0")) << resource;
    }
    // A query names no file; a path other than the root has no prefix of its own.
    Request(40, 5, "/deep.js?v=2", Eh(), "/app/sub");
    ws->Expect(11);
    EXPECT_EQ(Body(40), "deep");
    Request(41, 5, "/42/big.bin?v=2", Eh().Raw(3, Range(1, 0, 1)));
    ws->Expect(11);
    EXPECT_EQ(Body(41), big.substr(0, 2));
}
