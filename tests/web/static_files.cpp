// The static file table and its files served by the link itself. The built-in
// client's files, their tags, 304s and ranges through the real processes are
// covered end to end (tests/e2e/static_files.cpp, files.cpp); here the exact
// messages: parts paced by send results, and what the owner sees.
#include "tests/web/fake_webserver.h"
#include "web/httpfile.h"

using namespace web_test;

namespace {

using harness::Pattern;

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
