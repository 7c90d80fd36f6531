// HTTP requests through the real platform-webserver to fake plugins on its Unix socket.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/webserver/webserver_harness.h"

using namespace wst;

namespace {

std::string Fields(const ExtendedHeader& h)
{
    std::vector<std::pair<std::string, std::string>> fields;
    EXPECT_TRUE(h.HeaderFields(fields));
    std::string all;
    for (auto& f : fields) all += f.first + ": " + f.second + "\n";
    return all;
}

}  // namespace

TEST(webserver, get_goes_to_the_longest_registered_prefix_with_the_request_described)
{
    Webserver server;
    ASSERT_GT(server.port, 0);
    FakePlugin app(server.socketPath, "/app");
    EXPECT_TRUE(app.wide);
    EXPECT_EQ(app.Register("/app/"), REGISTER_OK);
    FakePlugin sub(server.socketPath, "/app/sub");
    EXPECT_EQ(sub.Register("/app/sub"), REGISTER_OK);

    Curl get("-H 'If-None-Match: W/\"abc\"' -H 'Range: bytes=0-9,-5' -H 'X-Test: one' '" +
             server.Url("/app/sub/x.htm?y=1&z") + "'");
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
    std::vector<HttpRange> ranges;
    ASSERT_TRUE(h.Ranges(ranges, true));
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].kind, RANGE_FROM_TO);
    EXPECT_EQ(ranges[0].end, 9u);
    EXPECT_EQ(ranges[1].kind, RANGE_LAST);
    EXPECT_EQ(ranges[1].start, 5u);
    sub.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE + 13, 0, 5), {"hel", "lo"});
    auto r = get.Finish();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "hello");
    EXPECT_EQ(r.fields["content-type"], "text/plain; charset=utf-8");
    EXPECT_EQ(r.fields["content-length"], "5");

    // Only whole segments match: /app/subway belongs to /app.
    Curl other(server.Url("/app/subway"));
    req = app.Next();
    ASSERT_EQ(req.type, WSM_GET_REQUEST);
    EXPECT_EQ(req.Header().String(DDT_REQUEST_PATH), "/subway");
    EXPECT_EQ(req.Header().String(DDT_REGISTERED_PATH_FOR_REQUEST), "/app/");
    app.Respond(req.connection, std::string(), {});
    EXPECT_EQ(other.Finish().status, 200);

    auto bare = Curl(server.Url("/app?q=1")).Finish();
    EXPECT_EQ(bare.status, 302);
    EXPECT_EQ(bare.fields["location"], "/app/?q=1");
    EXPECT_EQ(Curl(server.Url("/apple")).Finish().status, 404);
    EXPECT_EQ(Curl("-X BREW " + server.Url("/app/x")).Finish().status, 501);
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver, meta_data_becomes_status_line_and_headers)
{
    Webserver server;
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app"), REGISTER_OK);
    auto serve = [&](const std::string& curlArgs, const std::string& meta, std::vector<std::string> parts) {
        Curl c(curlArgs + " " + server.Url("/app/f"));
        Frame req = app.Next();
        EXPECT_EQ(req.type, WSM_GET_REQUEST);
        app.Respond(req.connection, meta, parts);
        return c.Finish();
    };

    ExtendedHeaderWriter w;
    std::string info;
    PutU16(info, WSP_INT_UNCHANGED);
    PutU16(info, 0);
    w.String(DDT_ETAG, "e1");
    w.Raw(DDT_TRANSFER_INFO, info);
    std::string meta;
    w.Encode(meta);
    auto r = serve("", meta, {});
    EXPECT_EQ(r.status, 304);
    EXPECT_EQ(r.fields["etag"], "\"e1\"");

    w = ExtendedHeaderWriter();
    w.U64(DDT_DATA_SIZE, 100);
    info.clear();
    PutU16(info, WSP_RESPONSE_NO_TYPE + 1);
    PutU16(info, 0);
    w.Raw(DDT_TRANSFER_INFO, info);
    std::string range;
    PutU32(range, 1);
    range.push_back(char(RANGE_FROM_TO));
    PutU64(range, 10);
    PutU64(range, 19);
    w.Raw(DDT_REQUEST_RANGES, range);
    w.Encode(meta);
    r = serve("-H 'Range: bytes=10-19'", meta, {"0123456789"});
    EXPECT_EQ(r.status, 206);
    EXPECT_EQ(r.fields["content-range"], "bytes 10-19/100");
    EXPECT_EQ(r.fields["content-length"], "10");
    EXPECT_EQ(r.body, "0123456789");

    w = ExtendedHeaderWriter();
    w.String(DDT_REDIRECT_PATH, "../42/f");
    w.Encode(meta);
    {
        Curl c(server.Url("/app/f"));
        Frame req = app.Next();
        // A redirect ends the plugin's side at once: no handler-closed follows it.
        app.Send(req.connection, WSM_SEND_META_DATA, 1, meta);
        EXPECT_EQ(app.Next().type, WSM_SHUTDOWN_COMPLETE);
        r = c.Finish();
        EXPECT_EQ(r.status, 302);
        EXPECT_EQ(r.fields["location"], "../42/f");
    }

    auto serveAgain = [&](const std::string& meta, std::vector<std::string> parts) {
        Curl c("--raw " + server.Url("/app/f"));
        Frame req = app.Next();
        app.Respond(req.connection, meta, parts);
        return c.Finish();
    };
    r = serveAgain(Meta(WSP_RESPONSE_NO_TYPE + 16, WSP_FLAG_GZIP, 3), {"abc"});
    EXPECT_EQ(r.fields["content-encoding"], "gzip");
    EXPECT_EQ(r.fields["content-type"], "application/javascript; charset=utf-8");
    r = serveAgain(Meta(WSP_RESPONSE_NO_TYPE + 1, 0, -1, true), {"ab", "cd", "e"});
    EXPECT_EQ(r.fields["transfer-encoding"], "chunked");
    EXPECT_EQ(r.fields.count("content-length"), 0u);
    EXPECT_EQ(r.body, "2\r\nab\r\n2\r\ncd\r\n1\r\ne\r\n0\r\n\r\n");
    // No size declared: the length is known only at the end, so it is chunked too.
    r = serveAgain(Meta(WSP_RESPONSE_NO_TYPE + 17, 0, -1), {"{}"});
    EXPECT_EQ(r.fields["transfer-encoding"], "chunked");
    r = serveAgain(Meta(WSP_RESPONSE_NO_TYPE, 0, -1), {});
    EXPECT_EQ(r.fields["content-length"], "0");

    // A pass-through plugin writes the response as it is.
    ASSERT_EQ(app.Register("/raw", WSM_REGISTER_PASSTHROUGH), REGISTER_OK);
    {
        Curl c(server.Url("/raw/x"));
        Frame req = app.Next();
        EXPECT_EQ(req.type, WSM_PASSTHROUGH_REQUEST);
        app.Respond(req.connection, std::string(), {"HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n", "ok"});
        r = c.Finish();
        EXPECT_EQ(r.status, 201);
        EXPECT_EQ(r.body, "ok");
    }

    const std::pair<uint32_t, int> cancels[] = {{WSP_CANCEL_NOT_FOUND, 404},   {WSP_CANCEL_BAD_REQUEST, 400},
                                                {WSP_CANCEL_UNAVAILABLE, 503}, {WSP_CANCEL_MISSING_LENGTH, 411},
                                                {WSP_CANCEL_ACCESS_DENIED, 403}, {WSP_CANCEL_INTERNAL_ERROR, 500}};
    for (auto& c : cancels) {
        Curl curl(server.Url("/app/f"));
        Frame req = app.Next();
        app.Send(req.connection, WSM_SEND_META_DATA, c.first);
        Frame done = app.Next();
        EXPECT_EQ(done.type, WSM_SHUTDOWN_COMPLETE);
        EXPECT_EQ(curl.Finish().status, c.second) << "cancel " << c.first;
    }
}

TEST(webserver, post_body_reaches_the_plugin_in_the_blocks_it_asks_for)
{
    Webserver server;
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app"), REGISTER_OK);
    std::string body(150000, '\0');
    for (size_t i = 0; i < body.size(); i++) body[i] = char('a' + i % 23);
    std::string file = server.dir + "/body";
    std::ofstream(file, std::ios::binary) << body;

    for (bool chunked : {false, true}) {
        Curl post("--data-binary @" + file + (chunked ? " -H 'Transfer-Encoding: chunked'" : "") + " '" +
                  server.Url("/app/up?msg-id=1") + "'");
        Frame req = app.Next();
        ASSERT_EQ(req.type, WSM_POST_REQUEST);
        ExtendedHeader h = req.Header();
        uint64_t size = 0;
        EXPECT_EQ(h.U64(DDT_DATA_SIZE, size), !chunked);
        EXPECT_EQ(h.Has(DDT_CHUNK_ENCODED_TRANSFER), chunked);
        if (!chunked) {
            EXPECT_EQ(size, body.size());
        }
        std::string received;
        std::vector<size_t> blocks;
        for (;;) {
            app.Send(req.connection, WSM_RECV, 64000);
            Frame part = app.Next();
            ASSERT_EQ(part.type, WSM_RECV_RESULT);
            if (part.body.empty()) break;
            blocks.push_back(part.body.size());
            received += part.body;
        }
        EXPECT_EQ(received, body);
        if (!chunked) {
            EXPECT_EQ(blocks, (std::vector<size_t>{64000, 64000, 22000}));
        }
        app.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE, 0, 2), {"ok"});
        auto r = post.Finish();
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, "ok");
    }
}

TEST(webserver, paths_belong_to_one_plugin_until_it_leaves)
{
    Webserver server;
    auto owner = std::make_unique<FakePlugin>(server.socketPath, "/app");
    EXPECT_EQ(owner->Register("/app"), REGISTER_OK);
    FakePlugin second(server.socketPath, "/app");
    EXPECT_EQ(second.Register("/app/"), REGISTER_ALREADY_REGISTERED);
    EXPECT_EQ(second.Register("/app", WSM_WEBSOCKET_LISTEN), REGISTER_OK);
    EXPECT_EQ(second.Register("/app", WSM_REGISTER_PASSTHROUGH), REGISTER_OK);
    EXPECT_EQ(second.Register("relative"), REGISTER_PATH_INVALID);
    EXPECT_EQ(second.Register("/a b"), REGISTER_PATH_INVALID);
    EXPECT_EQ(second.Register(""), REGISTER_PATH_INVALID);

    // A request waiting on a plugin that dies is answered for it.
    Curl waiting(server.Url("/app/x"));
    EXPECT_EQ(owner->Next().type, WSM_GET_REQUEST);
    owner.reset();
    EXPECT_EQ(waiting.Finish().status, 503);
    EXPECT_EQ(second.Register("/app"), REGISTER_OK);

    // One that dies mid-body can only cut the connection.
    Curl cut(server.Url("/app/y"));
    Frame req = second.Next();
    second.Send(req.connection, WSM_SEND_META_DATA, 0, Meta(WSP_RESPONSE_NO_TYPE + 1, 0, 100));
    second.Send(req.connection, WSM_SEND, 0, "part");
    EXPECT_EQ(second.Next().type, WSM_SEND_RESULT);
    second.Kill();
    auto r = cut.Finish();
    EXPECT_NE(r.exit, 0);

    FakePlugin third(server.socketPath, "/app");
    EXPECT_EQ(third.Register("/app"), REGISTER_OK);
    Curl next(server.Url("/app/z"));
    req = third.Next();
    third.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE, 0, 1), {"z"});
    EXPECT_EQ(next.Finish().body, "z");
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver, malformed_plugin_frames_close_that_plugin_only)
{
    Webserver server;
    FakePlugin good(server.socketPath, "/good");
    ASSERT_EQ(good.Register("/good"), REGISTER_OK);

    auto frame = [](uint16_t type, const std::string& body) { return EncodeFrame(kLinkConnectionId, type, 0, body); };
    std::string lengthTooLarge, lengthTooSmall, itemPastEnd, emptyString;
    PutU32(lengthTooLarge, 50);
    lengthTooLarge += std::string("\x07\x00\x02/\0", 5);
    PutU32(lengthTooSmall, 2);
    lengthTooSmall += std::string("\x07\x00\x02/\0", 5);
    PutU32(itemPastEnd, 5);
    itemPastEnd += std::string("\x07\x00\x09/\0", 5);
    PutU32(emptyString, 3);
    emptyString += std::string("\x07\x00\x00", 3);
    const std::pair<const char*, std::string> cases[] = {
        {"unknown type", frame(99, "")},
        {"webserver-only type", frame(WSM_GET_REQUEST, "")},
        {"register body shorter than a length", frame(WSM_REGISTER, "ab")},
        {"total length beyond the body", frame(WSM_REGISTER, lengthTooLarge)},
        {"total length short of the body", frame(WSM_REGISTER, lengthTooSmall)},
        {"item past the body", frame(WSM_REGISTER, itemPastEnd)},
        {"empty string item", frame(WSM_REGISTER, emptyString)},
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

    // Broken meta data or websocket traffic for an open request ends the plugin and fails the request.
    std::string shortInfo;
    {
        ExtendedHeaderWriter w;
        w.Raw(DDT_TRANSFER_INFO, "abc");
        w.Encode(shortInfo);
    }
    const std::pair<const char*, std::pair<uint16_t, std::string>> perRequest[] = {
        {"transfer info of three bytes", {WSM_SEND_META_DATA, shortInfo}},
        {"truncated meta data", {WSM_SEND_META_DATA, lengthTooLarge}},
    };
    for (auto& c : perRequest) {
        FakePlugin bad(server.socketPath, "/bad");
        ASSERT_EQ(bad.Register("/bad"), REGISTER_OK);
        Curl curl(server.Url("/bad/x"));
        Frame req = bad.Next();
        bad.Send(req.connection, c.second.first, 0, c.second.second);
        EXPECT_TRUE(bad.ClosedByServer()) << c.first;
        EXPECT_EQ(curl.Finish().status, 503) << c.first;
    }
    {
        FakePlugin bad(server.socketPath, "/bad");
        ASSERT_EQ(bad.Register("/bad"), REGISTER_OK);
        // The body never comes, so the first receive stays pending.
        RawClient client(server.port, "POST /bad/x HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\n");
        Frame req = bad.Next();
        bad.Send(req.connection, WSM_RECV, 10);
        bad.Send(req.connection, WSM_RECV, 10);
        EXPECT_TRUE(bad.ClosedByServer()) << "second receive while one is pending";
    }

    Curl curl(server.Url("/good/still"));
    Frame req = good.Next();
    ASSERT_EQ(req.type, WSM_GET_REQUEST);
    good.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE, 0, 2), {"up"});
    EXPECT_EQ(curl.Finish().body, "up");
    EXPECT_TRUE(server.Alive());
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver, https_is_marked_encrypted)
{
    char tmpl[] = "/tmp/webserver-tls-XXXXXX";
    std::string keys = mkdtemp(tmpl);
    ASSERT_EQ(system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + keys +
                      "/key.pem -out " + keys + "/cert.pem >/dev/null 2>&1")
                         .c_str()),
              0);
    Webserver server({"--https=127.0.0.1:0", "--cert=" + keys + "/cert.pem", "--key=" + keys + "/key.pem"});
    int httpsPort = 0;
    for (auto& l : server.lines)
        if (l.find("listening on https://") != std::string::npos) httpsPort = atoi(l.substr(l.rfind(':') + 1).c_str());
    ASSERT_GT(httpsPort, 0);
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app"), REGISTER_OK);

    Curl get("-k https://127.0.0.1:" + std::to_string(httpsPort) + "/app/secure");
    Frame req = app.Next();
    uint32_t flags = 0;
    EXPECT_TRUE(req.Header().U32(DDT_CONNECTION_FLAGS, flags));
    EXPECT_EQ(flags, uint32_t(CONNECTION_ENCRYPTED | CONNECTION_LOCAL_HOST));
    app.Respond(req.connection, Meta(WSP_RESPONSE_NO_TYPE, 0, 3), {"tls"});
    EXPECT_EQ(get.Finish().body, "tls");

    EXPECT_EQ(server.Stop(), 0);
    std::filesystem::remove_all(keys);
}
