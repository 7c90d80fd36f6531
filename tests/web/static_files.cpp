#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdio.h>
#include <zlib.h>

#include <deque>
#include <fstream>
#include <iterator>

#include "net/socket.h"
#include "tests/web/fake_webserver.h"
#include "web/httpfile.h"
#include "web/webserver_plugin.h"

using namespace web_test;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Gunzip(const unsigned char* data, unsigned len)
{
    z_stream z = {};
    EXPECT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
    std::string out(1 << 20, '\0');
    z.next_in = (Bytef*)data;
    z.avail_in = len;
    z.next_out = (Bytef*)&out[0];
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::string Md5Hex(const unsigned char* data, unsigned len)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data, len, md, &n, EVP_md5(), nullptr);
    std::string hex;
    char b[3];
    for (unsigned i = 0; i < n; i++) {
        snprintf(b, sizeof(b), "%02x", md[i]);
        hex += b;
    }
    return hex;
}

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
class static_files : public WebTest {
protected:
    void SetUp() override
    {
        WebTest::SetUp();
        HttpFiles::Register(testFiles, 4);
        local = CreateLocalSocketProvider();
        provider = CreateWebserverPluginProvider();
        ws = new FakeWebserver(mux, socketPath);
        link = provider->CreateWebserverPlugin(mux, local, &owner, socketPath.c_str(), "/app", &log);
        link->HttpListen(nullptr, nullptr, nullptr, nullptr, " /42/ ");
        link->HttpListen("sub", nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(2);
        ws->Send(LINK, 34, 1);
    }
    void TearDown() override
    {
        delete link;
        delete ws;
        delete provider;
        delete local;
        WebTest::TearDown();
    }
    void Get(unsigned id, const std::string& resource, const Eh& more = Eh(), const char* path = "/app")
    {
        std::string items = Eh().Str(0, resource).Str(1, path).items + more.items;
        ws->Send(id, 5, 0, Be32((unsigned)items.size()) + items);
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

    ISocketProvider* local = nullptr;
    IWebserverPluginProvider* provider = nullptr;
    IWebserverPlugin* link = nullptr;
    FakeWebserver* ws = nullptr;
    Owner owner;
};

}  // namespace

TEST(static_file_table, the_built_in_client_is_embedded_with_its_gzip_flag_etag_and_type)
{
    HttpFiles::RegisterBuiltIn();
    const HttpFile* js = HttpFiles::Find("solvantique.messages.js");
    ASSERT_NE(js, nullptr);
    EXPECT_TRUE(js->Gzip());
    EXPECT_EQ(js->Type(), WSP_RESPONSE_JAVASCRIPT);
    EXPECT_EQ(Gunzip(js->Content(), js->Length()), ReadFile(WEB_CLIENT_DIR "/solvantique.messages.js"));
    EXPECT_EQ(js->ETag(), Md5Hex(js->Content(), js->Length())) << "the ETag covers the stored, compressed bytes";

    const HttpFile* page = HttpFiles::Find("solvantique-messages.htm");
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(page->Gzip());
    EXPECT_EQ(page->Type(), WSP_RESPONSE_HTML);
    EXPECT_EQ(std::string((const char*)page->Content(), page->Length()),
              ReadFile(WEB_CLIENT_DIR "/solvantique-messages.htm"));

    const HttpFile* css = HttpFiles::Find("solvantique.messages.css");
    ASSERT_NE(css, nullptr);
    EXPECT_TRUE(css->Gzip());
    EXPECT_EQ(css->Type(), WSP_RESPONSE_CSS);
}

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
    Get(1, "/42/big.bin");
    Frame meta = ws->Expect(11);
    auto items = ParseEh(meta.body);
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

TEST_F(static_files, a_matching_etag_gets_the_unchanged_answer_and_a_range_only_its_bytes)
{
    std::string etag = HttpFiles::Find("big.bin")->ETag();
    Get(2, "/42/big.bin", Eh().Str(2, "\"" + etag + "\""));
    auto unchanged = ParseEh(ws->Expect(11).body);
    EXPECT_EQ(unchanged[11], Be16(WSP_INT_UNCHANGED) + Be16(0));
    EXPECT_EQ(unchanged.count(17), 0u);
    EXPECT_EQ(ItemString(unchanged, 2), etag);
    EXPECT_EQ(Body(2), "");

    // Start beyond end, and a range the webserver could not parse.
    Get(3, "/42/big.bin", Eh().Raw(3, Range(1, 10, 5)));
    Frame bad = ws->Expect(11);
    EXPECT_EQ(bad.gp, 17u);
    EXPECT_TRUE(bad.body.empty());
    ws->Send(3, 15, 0);
    Get(4, "/42/big.bin", Eh().Raw(3, Range(0, 0, 0)));
    EXPECT_EQ(ws->Expect(11).gp, 17u);
    ws->Send(4, 15, 0);

    struct Case {
        unsigned kind;
        unsigned long long start, end, first, last;
    } cases[] = {
        {1, 149990, 1000000000000ULL, 149990, 149999},
        {2, 149998, 0, 149998, 149999},
        {3, 5, 0, 149995, 149999},
        {1, 0, 0, 0, 0},
    };
    unsigned id = 10;
    for (const Case& c : cases) {
        Get(id, "/42/big.bin", Eh().Raw(3, Range(c.kind, c.start, c.end)));
        auto items = ParseEh(ws->Expect(11).body);
        EXPECT_EQ(items[17], Be64(150000)) << "the whole length, with the range beside it";
        EXPECT_EQ(items[3], Range(1, c.first, c.last));
        EXPECT_EQ(Body(id), big.substr(c.first, c.last - c.first + 1)) << c.kind << " " << c.start;
        id++;
    }

    // Compressed content says so, except for a single byte; fonts may be fetched cross-origin.
    Get(20, "/42/font.ttf");
    auto font = ParseEh(ws->Expect(11).body);
    EXPECT_EQ(font[11], Be16(WSP_RESPONSE_TTF) + Be16(1));
    // A developer build's files are revalidated: their folder stays the same across builds.
    EXPECT_EQ(font[5], std::string("Cache-Control\0no-cache\0Access-Control-Allow-Origin\0*\0", 53));
    EXPECT_EQ(Body(20), "0123456789");
    Get(21, "/42/font.ttf", Eh().Raw(3, Range(1, 3, 3)));
    EXPECT_EQ(ParseEh(ws->Expect(11).body)[11], Be16(WSP_RESPONSE_TTF) + Be16(0));
    EXPECT_EQ(Body(21), "3");
}

TEST_F(static_files, only_visible_files_below_the_static_prefix_are_answered_by_the_link)
{
    const char* ownerAsked[] = {"/big.bin", "/41/big.bin", "/42/hidden.txt", "/42/none.js", "/42/"};
    unsigned id = 30;
    for (const char* resource : ownerAsked) {
        Get(id, resource);
        EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND) << resource;
        EXPECT_TRUE(owner.Has(std::string("http 1 ") + resource + " [] 0")) << resource;
        id++;
    }
    // A query names no file; a path other than the root has no prefix of its own.
    Get(40, "/deep.js?v=2", Eh(), "/app/sub");
    ws->Expect(11);
    EXPECT_EQ(Body(40), "deep");
    Get(41, "/42/big.bin?v=2", Eh().Raw(3, Range(1, 0, 1)));
    ws->Expect(11);
    EXPECT_EQ(Body(41), big.substr(0, 2));
}
