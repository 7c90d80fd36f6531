// Request bodies and websocket messages through platform-webserver into a
// plugin process built from the web library (the echo plugin), next to the
// real messages; and what clients see when such a process dies mid-request.
#include "tests/e2e/e2e_harness.h"

#include "runtime/build_info.h"

using namespace e2e;
namespace websocket = boost::beast::websocket;

namespace {

const std::string page = "solvantique-messages.htm";

// The stand-in, messages and the echo plugin, started once for the file.
class e2e_plugin_process : public ::testing::Test {
protected:
    struct Site {
        Installation site;
        StandIn web{site.socketPath};
        Service service{site.socketPath, site.db};
        EchoPlugin echo{site.socketPath};
    };
    static void SetUpTestSuite() { s = new Site; }
    static void TearDownTestSuite()
    {
        EXPECT_EQ(s->echo.process.Stop(), 0) << s->echo.process.Output();
        EXPECT_EQ(s->service.process.Stop(), 0) << s->service.process.Output();
        EXPECT_EQ(s->web.process.Stop(), 0) << s->web.process.Output();
        delete s;
    }
    void SetUp() override
    {
        ASSERT_NE(web.port, 0) << web.process.Output();
        ASSERT_TRUE(echo.process.WaitFor("connected")) << echo.process.Output();
        ASSERT_TRUE(web.Registered("/echo", {"http path /echo", "websocket path /echo"})) << web.process.Output();
        ASSERT_TRUE(web.Registered("/messages", {"http path /messages"})) << web.process.Output();
    }
    std::string PageUrl() { return web.Url("/messages/" + std::string(messagesBuild) + "/" + page); }

    static inline Site* s = nullptr;
    Installation& site = s->site;
    StandIn& web = s->web;
    EchoPlugin& echo = s->echo;
};

}  // namespace

TEST_F(e2e_plugin_process, a_post_body_streams_to_the_plugin_in_blocks_and_back_whole)
{
    const size_t size = 300000;
    std::string body = Pattern(size);
    std::string file = site.dir / "upload.bin";
    WriteFile(file, body);

    // Known length: the plugin takes at most 16384 bytes per receive.
    size_t mark = echo.process.Mark();
    HttpResponse r = Http(site.dir, {"--data-binary", "@" + file, "-H", "Content-Type: application/octet-stream",
                                     web.Url("/echo/upload?block=16384")});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Field("content-length"), std::to_string(size));
    EXPECT_TRUE(r.body == body) << "echoed " << r.body.size() << " bytes";
    ASSERT_TRUE(echo.process.WaitFor("post blocks=", mark)) << echo.process.Output();
    unsigned blocks = 0;
    unsigned long long bytes = 0;
    sscanf(echo.process.Line("post blocks=", mark).c_str(), "post blocks=%u bytes=%llu", &blocks, &bytes);
    EXPECT_EQ(bytes, size);
    EXPECT_GE(blocks, (size + 16383) / 16384);

    // Chunked, and taken in odd block sizes: the answer is chunked too.
    mark = echo.process.Mark();
    r = Http(site.dir, {"--data-binary", "@" + file, "-H", "Transfer-Encoding: chunked",
                        web.Url("/echo/upload?block=1000")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Field("transfer-encoding"), "chunked");
    EXPECT_TRUE(r.body == body) << "echoed " << r.body.size() << " bytes";
    EXPECT_TRUE(echo.process.WaitFor("bytes=" + std::to_string(size), mark)) << echo.process.Output();

    // An empty body ends at once.
    r = Http(site.dir, {"--data-binary", "", web.Url("/echo/empty")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");

    // Several uploads at the same time stay apart.
    std::vector<std::string> bodies;
    std::vector<std::unique_ptr<Curl>> uploads;
    for (unsigned i = 0; i < 4; i++) {
        bodies.push_back(Pattern(100000 + 777 * i, i + 1));
        std::string f = site.dir / ("upload-" + std::to_string(i));
        WriteFile(f, bodies.back());
        uploads.push_back(std::make_unique<Curl>(site.dir, std::vector<std::string>{"--data-binary", "@" + f,
                                                                                     web.Url("/echo/u?block=4096")}));
    }
    for (unsigned i = 0; i < 4; i++) {
        HttpResponse u = uploads[i]->Finish();
        EXPECT_EQ(u.status, 200) << i;
        EXPECT_TRUE(u.body == bodies[i]) << "upload " << i << " echoed " << u.body.size() << " bytes";
    }
}

TEST_F(e2e_plugin_process, websocket_messages_larger_than_a_frame_are_echoed_whole)
{
    WsClient client;
    ASSERT_TRUE(client.Connect(web.port, "/echo")) << client.error.message();
    ASSERT_TRUE(echo.process.WaitFor("ws open")) << echo.process.Output();

    // 60000 bytes of text as fifteen frames: the plugin reads it in parts of
    // at most 16384 bytes and sends it back as one message.
    std::string text(60000, 'x');
    for (size_t i = 0; i < text.size(); i++) text[i] = char('a' + (i * 7 + i / 26) % 26);
    size_t mark = echo.process.Mark();
    ASSERT_TRUE(client.Write(text, true, 4096)) << client.error.message();
    std::string got;
    bool isText = false;
    ASSERT_TRUE(client.Read(got, &isText)) << client.error.message();
    EXPECT_TRUE(isText);
    EXPECT_TRUE(got == text) << "echoed " << got.size() << " bytes";
    EXPECT_TRUE(echo.process.WaitFor("ws message bytes=60000 parts=", mark)) << echo.process.Output();

    // 200000 bytes binary in frames of 65536: more than one send of the link
    // can carry, so it comes back as consecutive messages of 65535 bytes.
    std::string binary = Pattern(200000, 3);
    ASSERT_TRUE(client.Write(binary, false, 65536)) << client.error.message();
    std::string joined;
    std::vector<size_t> sizes;
    while (joined.size() < binary.size()) {
        ASSERT_TRUE(client.Read(got, &isText)) << client.error.message() << " after " << joined.size() << " bytes";
        EXPECT_FALSE(isText);
        sizes.push_back(got.size());
        joined += got;
    }
    EXPECT_TRUE(joined == binary);
    EXPECT_EQ(sizes, (std::vector<size_t>{65535, 65535, 65535, 200000 - 3 * 65535}));

    // Small messages round trip in order.
    for (int i = 0; i < 50; i++) {
        std::string ping = "ping " + std::to_string(i);
        ASSERT_TRUE(client.Write(ping, true)) << client.error.message();
        ASSERT_TRUE(client.Read(got)) << client.error.message();
        EXPECT_EQ(got, ping);
    }
    // An empty message is a message too.
    ASSERT_TRUE(client.Write("", false));
    ASSERT_TRUE(client.Read(got, &isText)) << client.error.message();
    EXPECT_EQ(got, "");

    mark = echo.process.Mark();
    EXPECT_TRUE(client.Close()) << client.error.message();
    EXPECT_TRUE(echo.process.WaitFor("ws closed reason=0", mark)) << echo.process.Output();
}

TEST_F(e2e_plugin_process, a_plugin_killed_mid_request_fails_its_clients_and_the_webserver_serves_the_rest)
{
    // A plugin process of its own under another path: one request waiting
    // for its answer, one in the middle of its body, one open websocket.
    size_t webMark = web.process.Mark();
    auto doomed = std::make_unique<EchoPlugin>(site.socketPath, "/doomed");
    ASSERT_TRUE(web.Registered("/doomed", {"http path /doomed", "websocket path /doomed"}, webMark))
        << web.process.Output();
    Curl waiting(site.dir, {web.Url("/doomed/hang")});
    ASSERT_TRUE(doomed->process.WaitFor("hang accepted")) << doomed->process.Output();
    Curl cut(site.dir, {web.Url("/doomed/stall?size=100000")});
    ASSERT_TRUE(doomed->process.WaitFor("stall sent=1000")) << doomed->process.Output();
    WsClient client;
    ASSERT_TRUE(client.Connect(web.port, "/doomed")) << client.error.message();
    ASSERT_TRUE(doomed->process.WaitFor("ws open")) << doomed->process.Output();

    webMark = web.process.Mark();
    EXPECT_EQ(doomed->process.Stop(SIGKILL), 128 + SIGKILL);
    ASSERT_TRUE(web.process.WaitFor("plugin /doomed closed", webMark)) << web.process.Output();

    // Nothing answered yet: the webserver answers for the plugin.
    HttpResponse r = waiting.Finish();
    EXPECT_EQ(r.status, 503);
    // Part of the body sent: the connection ends short of the announced length.
    r = cut.Finish();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Field("content-length"), "100000");
    EXPECT_EQ(r.body.size(), 1000u);
    EXPECT_EQ(r.exit, 18) << "curl should report a partial transfer";
    // The websocket is closed as gone away.
    std::string message;
    EXPECT_FALSE(client.Read(message));
    EXPECT_EQ(client.error, websocket::error::closed) << client.error.message();
    EXPECT_EQ(client.ws.reason().code, websocket::close_code::going_away);

    // The webserver lives on: the other plugins are served, the dead one's paths are gone.
    ASSERT_TRUE(web.process.Running());
    r = Http(site.dir, {PageUrl()});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, ReadFile(std::string(WEB_CLIENT_DIR) + "/" + page));
    EXPECT_EQ(Http(site.dir, {web.Url("/echo/hello")}).body, "hello from the echo plugin\n");
    EXPECT_EQ(Http(site.dir, {web.Url("/doomed/hello")}).status, 404);
    WsClient refused;
    EXPECT_FALSE(refused.Connect(web.port, "/doomed"));
    EXPECT_EQ(refused.status, 404u);

    // A new plugin process takes the same paths again.
    webMark = web.process.Mark();
    EchoPlugin again(site.socketPath, "/doomed");
    ASSERT_TRUE(web.Registered("/doomed", {"http path /doomed", "websocket path /doomed"}, webMark))
        << web.process.Output();
    r = Http(site.dir, {web.Url("/doomed/hello")});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "hello from the echo plugin\n");
    EXPECT_EQ(again.process.Stop(), 0) << again.process.Output();
}
