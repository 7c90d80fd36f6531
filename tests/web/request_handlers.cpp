// Single requests on a connected link: GET, POST and websocket handlers
// against the fake webserver, message by message.
#include <string.h>

#include <algorithm>

#include "tests/web/fake_webserver.h"

using namespace web_test;

namespace {

// A link for "/app" (HTTP) and "/app/ws" (websocket), connected in wide mode.
class request_handlers : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        Listen();
        Create("/app");
        link->HttpListen("", nullptr, nullptr, nullptr, nullptr);
        link->WebsocketListen("ws", nullptr);
        Connect(2);
    }
};

}  // namespace

TEST_F(request_handlers, meta_data_goes_first_and_close_waits_for_the_third_send_result)
{
    GetUser get;
    get.onAccept = [](IWebserverGet* g) {
        EXPECT_STREQ(g->GetResourceName(), "/doc?x=1");
        EXPECT_STREQ(g->GetETag(), "abc");
        EXPECT_STREQ(g->GetHeaderFieldValue("user-agent"), "test");
        EXPECT_EQ(g->GetHeaderFieldValue("Accept"), nullptr);
        g->SetTransferInfo(WSP_RESPONSE_HTML, 9, 0, "e1");
        g->ForceDownloadResponse("a b.txt");
        for (int i = 0; i < 3; i++) g->Send("abc", 3);
        g->Close();
        g->Send("late", 4);
    };
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept(&get); };
    Request(21, 5, "/doc?x=1", Eh().Str(2, "\"abc\"").Raw(5, std::string("User-Agent\0test\0", 16)));

    Frame meta = ws->Expect(11);
    EXPECT_EQ(meta.id, 21u);
    EXPECT_EQ(meta.gp, 0u);
    auto items = ParseEh(meta.body);
    EXPECT_EQ(items[11], Be16(WSP_RESPONSE_HTML) + Be16(0));
    EXPECT_EQ(items[17], Be64(9));
    EXPECT_EQ(ItemString(items, 2), "e1");
    EXPECT_EQ(items[5], std::string("Content-Disposition\0attachment; filename=\"a b.txt\"\0", 51));
    for (int i = 0; i < 3; i++) EXPECT_EQ(ws->Expect(9).body, "abc");

    ws->Send(21, 10, 0);
    ws->Send(21, 10, 0);
    EXPECT_TRUE(ws->Sync().empty()) << "closed before the last send result";
    ws->Send(21, 10, 0);
    EXPECT_EQ(ws->Expect(18).id, 21u);
    EXPECT_TRUE(ws->Sync().empty());
    ws->Send(21, 15, 0);
    ASSERT_TRUE(ws->Pump([&] { return get.events.back() == "closed"; }));
    // Send results after Close are not the owner's business any more.
    EXPECT_EQ(get.events, (std::vector<std::string>{"accept", "closed"}));
    EXPECT_TRUE(capture.Logged("NOTE: handler is closing, data will not be sent!"));
    EXPECT_TRUE(owner.Has("http 1 /doc?x=1 [] 0"));
}

TEST_F(request_handlers, an_answer_without_meta_data_is_an_empty_body_and_cancel_after_close_sends_nothing)
{
    GetUser closer;
    closer.onAccept = [](IWebserverGet* g) {
        g->Close();
        g->Cancel(WSP_CANCEL_NOT_FOUND);
    };
    GetUser canceller;
    canceller.onAccept = [](IWebserverGet* g) { g->Cancel(WSP_CANCEL_UNAVAILABLE); };
    owner.onHttp = [&](IWebserverPlugin* p, char* resource) {
        if (!strcmp(resource, "/close")) p->Accept(&closer);
        else if (!strcmp(resource, "/cancel")) p->Accept(&canceller);
        else p->Accept((UWebserverGet*)nullptr);
    };

    Request(22, 5, "/close");
    Frame meta = ws->Expect(11);
    EXPECT_EQ(meta.gp, 0u);
    EXPECT_EQ(meta.body.size(), 0u) << "an empty extended header is no body at all";
    EXPECT_EQ(ws->Expect(18).id, 22u);
    EXPECT_TRUE(ws->Sync().empty());
    EXPECT_TRUE(capture.Logged("WebserverGetHandler(connection id: 22)::Cancel(reason = WSP_CANCEL_NOT_FOUND): will be "
                       "ignored, because handler already is closing"));

    // A cancel is the plugin's whole answer: no handler-closed follows it.
    Request(23, 5, "/cancel");
    Frame cancel = ws->Expect(11);
    EXPECT_EQ(cancel.gp, (unsigned)WSP_CANCEL_UNAVAILABLE);
    EXPECT_TRUE(cancel.body.empty());
    EXPECT_TRUE(ws->Sync().empty());
    ws->Send(23, 15, 0);
    ws->Send(22, 15, 0);
    ASSERT_TRUE(ws->Pump([&] { return closer.events.back() == "closed" && canceller.events.back() == "closed"; }));

    Request(24, 5, "/refuse");
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND);
    EXPECT_TRUE(
        capture.Logged("WebserverPlugin(connection id: 24)::Accept(UWebserverGet * = nullptr) rejecting request"));
}

TEST_F(request_handlers, post_bodies_fill_the_owners_buffers_and_an_oversized_block_closes_the_request)
{
    PostUser post;
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept(&post); };
    Request(31, 6, "/up", Eh().U64(17, 14));
    EXPECT_EQ(ws->Expect(12).gp, 6u);

    int step = 0;
    post.onData = [&](IWebserverPost* p) {
        step++;
        if (step == 1) p->Recv(nullptr, 0);
        else if (step == 2) p->Recv(post.buffer, 6);
        else if (step == 3) p->Recv(post.buffer, 2);
    };
    ws->Send(31, 13, 0, "abcdef");
    EXPECT_EQ(ws->Expect(12).gp, 65535u) << "a receive without a buffer takes what one message holds";
    ws->Send(31, 13, 0, "ghij");
    EXPECT_EQ(ws->Expect(12).gp, 6u);
    ws->Send(31, 13, 0);
    EXPECT_EQ(ws->Expect(12).gp, 2u);
    ws->Send(31, 13, 0, "klmn");
    EXPECT_EQ(ws->Expect(11).body, "");
    EXPECT_EQ(ws->Expect(18).id, 31u);
    EXPECT_TRUE(capture.Logged("ERROR (Buffer overflow): Buffer size previously set with WebserverPostHandler::Recv() to "
                               "small (2, size needed = 4)"));
    ws->Send(31, 15, 0);
    ASSERT_TRUE(ws->Pump([&] { return !post.received.empty() && post.received.back() == "<closed>"; }));
    EXPECT_EQ(post.received, (std::vector<std::string>{"abcdef", "ghij", "", "<canceled>", "<closed>"}));
    EXPECT_EQ(post.asked, (std::vector<size_t>{4}));
    EXPECT_TRUE(owner.Has("http 2 /up [] 14"));

    // A chunked body has no size to tell.
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept((UWebserverPost*)nullptr); };
    Request(32, 6, "/chunked", Eh().Raw(18, ""));
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND);
    EXPECT_TRUE(owner.Has("http 2 /chunked [] 18446744073709551615"));
}

TEST_F(request_handlers, websocket_messages_flow_and_close_waits_for_the_send_results)
{
    WsUser user;
    owner.onWebsocket = [&](IWebserverPlugin* p) { p->WebsocketAccept(&user); };
    user.onAccept = [](IWebsocket* w) {
        EXPECT_STREQ(w->GetHost(), "host.example");
        EXPECT_STREQ(w->GetPath(), "/?a=1");
        EXPECT_STREQ(w->GetHeaderFieldValue("origin"), "x");
        EXPECT_TRUE(w->IsEncryptedConnection());
        EXPECT_TRUE(w->IsLocalHost());
        EXPECT_FALSE(w->IsSysClientAuthenticated());
        w->Recv(nullptr, 0);
    };
    user.onData = [](IWebsocket* w) { w->Recv(nullptr, 0); };
    ws->Send(41, 16, 0,
             Eh().Str(0, "/?a=1").Str(1, "/app/ws").Str(6, "host.example").U32(4, 0x9)
                 .Raw(5, std::string("Origin\0x\0", 9)).Body());
    EXPECT_TRUE(ws->Sync().empty()) << "accepting a websocket sends nothing";
    EXPECT_TRUE(owner.Has("websocket /?a=1 [ws] host.example"));

    ws->Send(41, 17, 2);
    EXPECT_EQ(ws->Expect(17).gp, 65535u << 16 | 5);
    ws->Send(41, 17, 0xC000u << 16 | 6, "he");
    EXPECT_EQ(ws->Expect(17).gp, 65535u << 16 | 5);
    ws->Send(41, 17, 0x8000u << 16 | 6, "llo");
    EXPECT_EQ(ws->Expect(17).gp, 65535u << 16 | 5);
    EXPECT_EQ(user.events, (std::vector<std::string>{"accept", "text fragment he", "text llo"}));

    user.socket->Send("x", 1, true);
    user.socket->Send("y", 1, false);
    user.socket->Close();
    Frame text = ws->Expect(17);
    EXPECT_EQ(text.gp, 0x8000u << 16 | 3);
    EXPECT_EQ(text.body, "x");
    EXPECT_EQ(ws->Expect(17).gp, 3u);
    ws->Send(41, 17, 4);
    EXPECT_TRUE(ws->Sync().empty()) << "closed before the last send result";
    ws->Send(41, 17, 4);
    Frame close = ws->Expect(17);
    EXPECT_EQ(close.gp, 7u);
    EXPECT_EQ(ParseEh(close.body)[10], Be32(0));
    ws->Send(41, 17, 8, Be16(0));
    ASSERT_TRUE(ws->Pump([&] { return user.Closed(); }));
    EXPECT_EQ(user.events.back(), "closed 0");
    EXPECT_EQ(std::count(user.events.begin(), user.events.end(), "sent"), 0) << "results after Close reach nobody";
}

TEST_F(request_handlers, a_websocket_ended_by_the_webserver_hands_back_its_receive_and_tolerates_strays)
{
    WsUser user;
    owner.onWebsocket = [&](IWebserverPlugin* p) { p->WebsocketAccept(&user); };
    user.onAccept = [&](IWebsocket* w) { w->Recv(user.buffer, sizeof(user.buffer)); };
    ws->Send(42, 16, 0, Eh().Str(0, "/").Str(1, "/app/ws").Body());
    ws->Send(42, 17, 2);
    EXPECT_EQ(ws->Expect(17).gp, 10u << 16 | 5);

    ws->Send(42, 9, 0, "body");
    ws->Send(42, 17, 99);
    ws->Send(42, 17, 2);
    EXPECT_TRUE(ws->Sync().empty());
    EXPECT_TRUE(capture.Logged("WARNING: IWebsocket received non-websocket related message id (9) - ignoring"));
    EXPECT_TRUE(capture.Logged("WARNING: IWebsocket received unexpected message id (99)"));

    // More than the buffer holds: the websocket closes, the receive stays pending.
    ws->Send(42, 17, 6, std::string(20, 'z'));
    EXPECT_EQ(ws->Expect(17).gp, 7u);
    ws->Send(42, 17, 8, Be16(4));
    ASSERT_TRUE(ws->Pump([&] { return user.Closed(); }));
    EXPECT_EQ(user.events, (std::vector<std::string>{"accept", "recv canceled", "closed 4"}));
    EXPECT_TRUE(capture.Logged("ERROR: Webserver reported double websocket recv call from this app."));
}
