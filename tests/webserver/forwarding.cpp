// HTTP requests and websockets through the real platform-webserver to fake
// plugins on its Unix socket. Request bodies, large websocket messages and a
// plugin dying mid-request are covered end to end with a real plugin process
// (tests/e2e/plugin_process.cpp); here what only a fake plugin can send.
#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <thread>

#include "tests/webserver/webserver_harness.h"

using namespace wst;
namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;

namespace {

std::string Fields(const ExtendedHeader& h)
{
    std::vector<std::pair<std::string, std::string>> fields;
    EXPECT_TRUE(h.HeaderFields(fields));
    std::string all;
    for (auto& f : fields) all += f.first + ": " + f.second + "\n";
    return all;
}

// A Beast client whose handshake runs on a thread while the test plays the plugin.
struct WsClient {
    WsClient(int port, const std::string& path) : ws(io)
    {
        ws.next_layer().connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), uint16_t(port)));
        handshake = std::thread([this, path] { ws.handshake("127.0.0.1", path, error); });
    }
    ~WsClient()
    {
        if (handshake.joinable()) handshake.join();
    }
    // The error that ends the next read, once the handshake is done.
    boost::system::error_code ReadError()
    {
        if (handshake.joinable()) handshake.join();
        boost::beast::flat_buffer buffer;
        boost::system::error_code ec = error;
        if (!ec) ws.read(buffer, ec);
        return ec;
    }

    asio::io_context io;
    websocket::stream<asio::ip::tcp::socket> ws;
    std::thread handshake;
    boost::system::error_code error;
};

}  // namespace

TEST(webserver, get_goes_to_the_longest_registered_prefix_with_the_request_described)
{
    Webserver server;
    ASSERT_GT(server.port, 0);
    auto app = std::make_unique<FakePlugin>(server.socketPath, "/app");
    EXPECT_TRUE(app->wide);
    EXPECT_EQ(app->Register("/app/"), REGISTER_OK);
    FakePlugin sub(server.socketPath, "/app/sub");
    EXPECT_EQ(sub.Register("/app/sub"), REGISTER_OK);

    // Tags and ranges as browsers send them reach the plugin end to end (tests/e2e/static_files.cpp).
    Curl get(server.dir, {"-H", "If-None-Match: W/\"abc\"", "-H", "X-Test: one", server.Url("/app/sub/x.htm?y=1&z")});
    Frame req = sub.Next();
    ASSERT_EQ(req.type, WSM_GET_REQUEST);
    ExtendedHeader h = req.Header();
    EXPECT_EQ(h.String(DDT_REQUEST_PATH), "/x.htm?y=1&z");
    EXPECT_EQ(h.String(DDT_REGISTERED_PATH_FOR_REQUEST), "/app/sub");
    EXPECT_EQ(h.String(DDT_ETAG), "abc");
    EXPECT_EQ(h.String(DDT_HOST), "127.0.0.1:" + std::to_string(server.port));
    uint32_t flags = 0;
    EXPECT_TRUE(h.U32(DDT_CONNECTION_FLAGS, flags));
    EXPECT_EQ(flags, uint32_t(CONNECTION_LOCAL_HOST));
    EXPECT_FALSE(h.Has(DDT_DATA_SIZE));
    EXPECT_NE(Fields(h).find("X-Test: one\n"), std::string::npos);
    sub.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE + 13, 0, 5), {"hel", "lo"});
    auto r = get.Finish();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "hello");
    EXPECT_EQ(r.fields["content-type"], "text/plain; charset=utf-8");
    EXPECT_EQ(r.fields["content-length"], "5");

    // Only whole segments match: /app/subway belongs to /app.
    Curl other(server.dir, {server.Url("/app/subway")});
    req = app->Next();
    ASSERT_EQ(req.type, WSM_GET_REQUEST);
    EXPECT_EQ(req.Header().String(DDT_REQUEST_PATH), "/subway");
    EXPECT_EQ(req.Header().String(DDT_REGISTERED_PATH_FOR_REQUEST), "/app/");
    app->Respond(req.connection, std::string(), {});
    EXPECT_EQ(other.Finish().status, 200);

    auto bare = Http(server.dir, {server.Url("/app?q=1")});
    EXPECT_EQ(bare.status, 302);
    EXPECT_EQ(bare.fields["location"], "/app/?q=1");
    EXPECT_EQ(Http(server.dir, {server.Url("/apple")}).status, 404);
    EXPECT_EQ(Http(server.dir, {"-X", "BREW", server.Url("/app/x")}).status, 501);

    // A path belongs to one plugin until it leaves; other kinds of path are apart.
    FakePlugin second(server.socketPath, "/app");
    EXPECT_EQ(second.Register("/app/"), REGISTER_ALREADY_REGISTERED);
    EXPECT_EQ(second.Register("/app", WSM_WEBSOCKET_LISTEN), REGISTER_OK);
    EXPECT_EQ(second.Register("/app", WSM_REGISTER_PASSTHROUGH), REGISTER_OK);
    for (const char* bad : {"relative", "/a b", "", "/a?b", "/a#"}) EXPECT_EQ(second.Register(bad), REGISTER_PATH_INVALID) << bad;
    // A request waiting on the plugin is answered for it when it dies.
    Curl waiting(server.dir, {server.Url("/app/x")});
    EXPECT_EQ(app->Next().type, WSM_GET_REQUEST);
    app.reset();
    EXPECT_EQ(waiting.Finish().status, 503);
    EXPECT_EQ(second.Register("/app"), REGISTER_OK);
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver, meta_data_becomes_status_line_headers_and_framing)
{
    Webserver server;
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app"), REGISTER_OK);
    auto serve = [&](const std::string& meta, std::vector<std::string> parts) {
        Curl c(server.dir, {"--raw", server.Url("/app/f")});
        Frame req = app.Next();
        EXPECT_EQ(req.type, WSM_GET_REQUEST);
        app.Respond(req.connection, meta, parts);
        return c.Finish();
    };
    auto r = serve(Meta(WSP_RESPONSE_NO_TYPE + 1, 0, -1, true), {"ab", "cd", "e"});
    EXPECT_EQ(r.fields["transfer-encoding"], "chunked");
    EXPECT_EQ(r.fields.count("content-length"), 0u);
    EXPECT_EQ(r.body, "2\r\nab\r\n2\r\ncd\r\n1\r\ne\r\n0\r\n\r\n");
    // No size declared: the length is known only at the end, so it is chunked too.
    r = serve(Meta(WSP_RESPONSE_NO_TYPE + 17, 0, -1), {"{}"});
    EXPECT_EQ(r.fields["transfer-encoding"], "chunked");
    r = serve(Meta(WSP_RESPONSE_NO_TYPE, 0, -1), {});
    EXPECT_EQ(r.fields["content-length"], "0");

    // A pass-through plugin writes the response as it is.
    ASSERT_EQ(app.Register("/raw", WSM_REGISTER_PASSTHROUGH), REGISTER_OK);
    {
        Curl c(server.dir, {server.Url("/raw/x")});
        Frame req = app.Next();
        EXPECT_EQ(req.type, WSM_PASSTHROUGH_REQUEST);
        app.Respond(req.connection, std::string(), {"HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n", "ok"});
        r = c.Finish();
        EXPECT_EQ(r.status, 201);
        EXPECT_EQ(r.body, "ok");
    }

    // A cancel is the plugin's whole answer: no handler-closed follows it.
    const std::pair<uint32_t, int> cancels[] = {{WSP_CANCEL_NOT_FOUND, 404},   {WSP_CANCEL_BAD_REQUEST, 400},
                                                {WSP_CANCEL_UNAVAILABLE, 503}, {WSP_CANCEL_MISSING_LENGTH, 411},
                                                {WSP_CANCEL_ACCESS_DENIED, 403}, {WSP_CANCEL_INTERNAL_ERROR, 500}};
    for (auto& c : cancels) {
        Curl curl(server.dir, {server.Url("/app/f")});
        Frame req = app.Next();
        app.Send(req.connection, WSM_SEND_META_DATA, c.first);
        EXPECT_EQ(app.Next().type, WSM_SHUTDOWN_COMPLETE);
        EXPECT_EQ(curl.Finish().status, c.second) << "cancel " << c.first;
    }
}

TEST(webserver, malformed_plugin_frames_close_that_plugin_only)
{
    Webserver server;
    FakePlugin good(server.socketPath, "/good");
    ASSERT_EQ(good.Register("/good"), REGISTER_OK);

    auto frame = [](uint16_t type, const std::string& body) { return EncodeFrame(kLinkConnectionId, type, 0, body); };
    // An extended header: its length, then the items as they are given.
    auto header = [](uint32_t length, const std::string& items) {
        std::string body;
        PutU32(body, length);
        return body + items;
    };
    const std::string path = std::string("\x07\x00\x02/\0", 5), lengthTooLarge = header(50, path);
    const std::pair<const char*, std::string> cases[] = {
        {"unknown type", frame(99, "")},
        {"webserver-only type", frame(WSM_GET_REQUEST, "")},
        {"register body shorter than a length", frame(WSM_REGISTER, "ab")},
        {"total length beyond the body", frame(WSM_REGISTER, lengthTooLarge)},
        {"total length short of the body", frame(WSM_REGISTER, header(2, path))},
        {"item header cut", frame(WSM_REGISTER, header(2, std::string(2, '\x07')))},
        {"item past the body", frame(WSM_REGISTER, header(5, std::string("\x07\x00\x09/\0", 5)))},
        {"empty string item", frame(WSM_REGISTER, header(3, std::string("\x07\x00\x00", 3)))},
        {"string without NUL", frame(WSM_REGISTER, header(5, "\x07" + std::string(1, '\0') + "\x02/a"))},
        {"embedded NUL", frame(WSM_REGISTER, header(6, std::string("\x07\x00\x03/\0\0", 6)))},
        {"repeated item", frame(WSM_REGISTER, header(10, path + path))},
        {"web root without NUL", frame(WSM_SET_PLUGINS_WEB_ROOT, "/x")},
        // A header announcing 200 bytes, followed by 10 and the end of the stream.
        {"truncated frame", frame(WSM_REGISTER, std::string(200, 'x')).substr(0, 22)},
    };
    for (auto& c : cases) {
        FakePlugin bad(server.socketPath, "/bad");
        bad.SendRaw(c.second);
        if (std::string(c.first) == "truncated frame") shutdown(bad.fd, SHUT_WR);
        EXPECT_TRUE(bad.ClosedByServer()) << c.first;
    }

    // Broken meta data for an open request ends the plugin and fails the request.
    std::string shortInfo;
    {
        ExtendedHeaderWriter w;
        w.Raw(DDT_TRANSFER_INFO, "abc");
        w.Encode(shortInfo);
    }
    for (const std::string& meta : {shortInfo, lengthTooLarge}) {
        FakePlugin bad(server.socketPath, "/bad");
        ASSERT_EQ(bad.Register("/bad"), REGISTER_OK);
        Curl curl(server.dir, {server.Url("/bad/x")});
        Frame req = bad.Next();
        bad.Send(req.connection, WSM_SEND_META_DATA, 0, meta);
        EXPECT_TRUE(bad.ClosedByServer()) << testing::PrintToString(meta);
        EXPECT_EQ(curl.Finish().status, 503) << testing::PrintToString(meta);
    }
    {
        FakePlugin bad(server.socketPath, "/bad");
        ASSERT_EQ(bad.Register("/bad"), REGISTER_OK);
        // The body never comes, so the first receive stays pending.
        RawClient client(server.port);
        ASSERT_TRUE(client.Write("POST /bad/x HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\n"));
        Frame req = bad.Next();
        bad.Send(req.connection, WSM_RECV, 10);
        bad.Send(req.connection, WSM_RECV, 10);
        EXPECT_TRUE(bad.ClosedByServer()) << "second receive while one is pending";
    }

    Curl curl(server.dir, {server.Url("/good/still")});
    Frame req = good.Next();
    ASSERT_EQ(req.type, WSM_GET_REQUEST);
    good.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE, 0, 2), {"up"});
    EXPECT_EQ(curl.Finish().body, "up");
    EXPECT_TRUE(server.Alive());
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver, a_websocket_ends_on_client_close_double_receive_or_rejection)
{
    Webserver server;
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app", WSM_WEBSOCKET_LISTEN), REGISTER_OK);
    // Accepts the announced websocket; its connection id.
    auto accept = [&] {
        Frame listen = app.Next();
        EXPECT_EQ(listen.type, WSM_WEBSOCKET_LISTEN_RESULT);
        EXPECT_EQ(listen.Header().String(DDT_REGISTERED_PATH_FOR_REQUEST), "/app");
        EXPECT_EQ(app.Next().general & 0xFFFF, WS_ACCEPT_COMPLETE);
        return listen.connection;
    };
    for (bool doubleReceive : {false, true}) {
        WsClient client(server.port, "/app");
        uint32_t id = accept();
        client.handshake.join();
        app.Websocket(id, WS_RECV, 100);
        if (doubleReceive) app.Websocket(id, WS_RECV, 100);
        else client.ws.close(websocket::close_code::normal);
        Frame closed = app.Next();
        EXPECT_EQ(closed.general & 0xFFFF, WS_CLOSED);
        EXPECT_EQ(closed.body, doubleReceive ? std::string("\0\x04", 2) : std::string(2, '\0'));
        if (doubleReceive) {
            EXPECT_TRUE(client.ReadError());
        }
    }
    {
        WsClient client(server.port, "/app");
        Frame listen = app.Next();
        ASSERT_EQ(listen.type, WSM_WEBSOCKET_LISTEN_RESULT);
        app.Websocket(listen.connection, WS_REJECT, 0);
        EXPECT_TRUE(client.ReadError());
        // The handshake may have finished before the rejection arrived; that is all the plugin may hear.
        Frame late;
        while (app.Read(late, 300)) EXPECT_EQ(late.general & 0xFFFF, WS_ACCEPT_COMPLETE);
    }
    // A websocket to a path nobody listens on is refused at the handshake.
    EXPECT_TRUE(WsClient(server.port, "/nowhere").ReadError());
    Frame none;
    EXPECT_FALSE(app.Read(none, 300)) << "the plugin heard of it";
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver, https_is_marked_encrypted)
{
    TempDir keys;
    ASSERT_EQ(system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + keys /
                      "key.pem -out " + keys / "cert.pem >/dev/null 2>&1")
                         .c_str()),
              0);
    Webserver server({"--https=127.0.0.1:0", "--cert=" + keys / "cert.pem", "--key=" + keys / "key.pem"});
    ASSERT_TRUE(server.process.WaitFor("listening on https://"));
    std::string listening = server.process.Line("listening on https://");
    int httpsPort = atoi(listening.c_str() + listening.rfind(':') + 1);
    ASSERT_GT(httpsPort, 0);
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app"), REGISTER_OK);

    Curl get(server.dir, {"-k", "https://127.0.0.1:" + std::to_string(httpsPort) + "/app/secure"});
    Frame req = app.Next();
    uint32_t flags = 0;
    EXPECT_TRUE(req.Header().U32(DDT_CONNECTION_FLAGS, flags));
    EXPECT_EQ(flags, uint32_t(CONNECTION_ENCRYPTED | CONNECTION_LOCAL_HOST));
    app.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE, 0, 3), {"tls"});
    EXPECT_EQ(get.Finish().body, "tls");

    EXPECT_EQ(server.Stop(), 0);
}
