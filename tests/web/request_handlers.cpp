#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>

#include "net/socket.h"
#include "tests/web/fake_webserver.h"
#include "web/webserver_get.h"
#include "web/webserver_options.h"
#include "web/webserver_plugin.h"
#include "web/webserver_post.h"
#include "web/websocket.h"

using namespace web_test;

namespace {

// A link for "/app" (HTTP) and "/app/ws" (websocket), connected in wide mode.
class request_handlers : public WebTest {
protected:
    void SetUp() override
    {
        WebTest::SetUp();
        local = CreateLocalSocketProvider();
        provider = CreateWebserverPluginProvider();
        ws = new FakeWebserver(mux, socketPath);
        link = provider->CreateWebserverPlugin(mux, local, &owner, socketPath.c_str(), "/app", &log);
        link->HttpListen("", nullptr, nullptr, nullptr, nullptr);
        link->WebsocketListen("ws", nullptr);
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(2);
        ws->Send(LINK, 2, 0);
        ws->Send(LINK, 2, 0);
        ws->Send(LINK, 34, 1);
        ws->Sync();
    }
    void TearDown() override
    {
        delete link;
        delete ws;
        delete provider;
        delete local;
        WebTest::TearDown();
    }
    std::string Get(const std::string& resource, const Eh& more = Eh())
    {
        return Eh().Str(0, resource).Str(1, "/app").items + more.items;
    }
    void SendRequest(unsigned id, unsigned type, const std::string& items)
    {
        ws->Send(id, type, 0, Be32((unsigned)items.size()) + items);
    }

    ISocketProvider* local = nullptr;
    IWebserverPluginProvider* provider = nullptr;
    IWebserverPlugin* link = nullptr;
    FakeWebserver* ws = nullptr;
    Owner owner;
};

class GetUser : public UWebserverGet {
public:
    void WebserverGetRequestAcceptComplete(IWebserverGet* g) override
    {
        events.push_back("accept");
        if (onAccept) onAccept(g);
    }
    void WebserverGetSendResult(IWebserverGet*) override { events.push_back("sent"); }
    void WebserverGetCloseComplete(IWebserverGet* g) override
    {
        events.push_back("closed");
        delete g;
    }
    std::function<void(IWebserverGet*)> onAccept;
    std::vector<std::string> events;
};

class PostUser : public UWebserverPost {
public:
    void WebserverPostRequestAcceptComplete(IWebserverPost* p) override
    {
        post = p;
        p->Recv(buffer, 6);
    }
    void WebserverPostRecvResult(IWebserverPost*, void* b, size_t len) override
    {
        received.push_back(std::string((char*)b, len));
        if (onData) onData(post);
    }
    void* WebserverPostRecvBuffer(size_t len) override
    {
        asked.push_back(len);
        return spare;
    }
    void WebserverPostRecvCanceled(IWebserverPost*, void* b) override
    {
        received.push_back(b == buffer ? "<canceled>" : "<canceled: wrong buffer>");
    }
    void WebserverPostCloseComplete(IWebserverPost* p) override
    {
        received.push_back("<closed>");
        delete p;
    }
    IWebserverPost* post = nullptr;
    char buffer[6];
    char spare[100];
    std::vector<size_t> asked;
    std::vector<std::string> received;
    std::function<void(IWebserverPost*)> onData;
};

class WsUser : public UWebsocket {
public:
    void WebsocketAcceptComplete(IWebsocket* w) override
    {
        socket = w;
        events.push_back("accept");
        if (onAccept) onAccept(w);
    }
    void WebsocketSendResult(IWebsocket*) override { events.push_back("sent"); }
    void WebsocketRecvResult(IWebsocket* w, void* b, size_t len, bool text, bool fragment) override
    {
        events.push_back(std::string(text ? "text " : "binary ") + (fragment ? "fragment " : "") +
                         std::string((char*)b, len));
        if (onData) onData(w);
    }
    void* WebsocketRecvBuffer(size_t) override { return spare; }
    void WebsocketRecvCanceled(IWebsocket*, void* b) override
    {
        events.push_back(b == buffer ? "recv canceled" : "recv canceled: wrong buffer");
    }
    void WebsocketCloseComplete(IWebsocket* w, ws_close_reason_t reason) override
    {
        events.push_back("closed " + std::to_string(reason));
        delete w;
    }
    IWebsocket* socket = nullptr;
    char buffer[10];
    char spare[100];
    std::vector<std::string> events;
    std::function<void(IWebsocket*)> onAccept, onData;
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
    SendRequest(21, 5, Get("/doc?x=1", Eh().Str(2, "\"abc\"").Raw(5, std::string("User-Agent\0test\0", 16))));

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
    EXPECT_TRUE(Logged("NOTE: handler is closing, data will not be sent!"));
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

    SendRequest(22, 5, Get("/close"));
    Frame meta = ws->Expect(11);
    EXPECT_EQ(meta.gp, 0u);
    EXPECT_EQ(meta.body.size(), 0u) << "an empty extended header is no body at all";
    EXPECT_EQ(ws->Expect(18).id, 22u);
    EXPECT_TRUE(ws->Sync().empty());
    EXPECT_TRUE(Logged("WebserverGetHandler(connection id: 22)::Cancel(reason = WSP_CANCEL_NOT_FOUND): will be "
                       "ignored, because handler already is closing"));

    // A cancel is the plugin's whole answer: no handler-closed follows it.
    SendRequest(23, 5, Get("/cancel"));
    Frame cancel = ws->Expect(11);
    EXPECT_EQ(cancel.gp, (unsigned)WSP_CANCEL_UNAVAILABLE);
    EXPECT_TRUE(cancel.body.empty());
    EXPECT_TRUE(ws->Sync().empty());
    ws->Send(23, 15, 0);
    ws->Send(22, 15, 0);
    ASSERT_TRUE(ws->Pump([&] { return closer.events.back() == "closed" && canceller.events.back() == "closed"; }));

    SendRequest(24, 5, Get("/refuse"));
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND);
    EXPECT_TRUE(Logged("WebserverPlugin(connection id: 24)::Accept(UWebserverGet * = nullptr) rejecting request"));
}

TEST_F(request_handlers, post_bodies_fill_the_owners_buffers_and_an_oversized_block_closes_the_request)
{
    PostUser post;
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept(&post); };
    SendRequest(31, 6, Get("/up", Eh().U64(17, 14)));
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
    EXPECT_TRUE(Logged("ERROR (Buffer overflow): Buffer size previously set with WebserverPostHandler::Recv() to small "
                       "(2, size needed = 4)"));
    ws->Send(31, 15, 0);
    ASSERT_TRUE(ws->Pump([&] { return !post.received.empty() && post.received.back() == "<closed>"; }));
    EXPECT_EQ(post.received, (std::vector<std::string>{"abcdef", "ghij", "", "<canceled>", "<closed>"}));
    EXPECT_EQ(post.asked, (std::vector<size_t>{4}));
    EXPECT_TRUE(owner.Has("http 2 /up [] 14"));

    // A chunked body has no size to tell.
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept((UWebserverPost*)nullptr); };
    SendRequest(32, 6, Get("/chunked", Eh().Raw(18, "")));
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
    ASSERT_TRUE(ws->Pump([&] { return user.events.back().compare(0, 6, "closed") == 0; }));
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
    EXPECT_TRUE(Logged("WARNING: IWebsocket received non-websocket related message id (9) - ignoring"));
    EXPECT_TRUE(Logged("WARNING: IWebsocket received unexpected message id (99)"));

    // More than the buffer holds: the websocket closes, the receive stays pending.
    ws->Send(42, 17, 6, std::string(20, 'z'));
    EXPECT_EQ(ws->Expect(17).gp, 7u);
    ws->Send(42, 17, 8, Be16(4));
    ASSERT_TRUE(ws->Pump([&] { return user.events.back().compare(0, 6, "closed") == 0; }));
    EXPECT_EQ(user.events, (std::vector<std::string>{"accept", "recv canceled", "closed 4"}));
    EXPECT_TRUE(Logged("ERROR: Webserver reported double websocket recv call from this app."));
}

TEST_F(request_handlers, build_redirect_points_below_the_build_and_declines_what_is_there_already)
{
    owner.onHttp = [](IWebserverPlugin* p, char* resource) {
        if (!p->BuildRedirect(resource, "42", 2)) p->Cancel(WSP_CANCEL_NOT_FOUND);
    };
    struct Case {
        const char* resource;
        const char* target;
    } cases[] = {
        {"/a/b.htm", "../42/a/b.htm"},
        {"/41/x.htm", "../42/x.htm"},
        {"/x.htm", "./42/x.htm"},
        {"/a/b?next=/c/d", "../42/a/b?next=/c/d"},
        {"/42/x.htm", nullptr},
        {"x.htm", nullptr},
    };
    unsigned id = 60;
    for (const Case& c : cases) {
        SendRequest(id, 5, Get(c.resource));
        Frame f = ws->Expect(11);
        EXPECT_EQ(f.id, id);
        if (c.target) {
            EXPECT_EQ(f.gp, 1u) << c.resource;
            EXPECT_EQ(ItemString(ParseEh(f.body), 15), c.target);
        }
        else {
            EXPECT_EQ(f.gp, (unsigned)WSP_CANCEL_NOT_FOUND) << c.resource;
        }
        id++;
    }
}

TEST_F(request_handlers, an_options_answer_carries_the_allowed_methods_and_cors_fields)
{
    class OptionsUser : public UWebserverOptions {
    public:
        void WebserverOptionsRequestAcceptComplete(IWebserverOptions* o) override
        {
            o->SetSupportedRequests(8183);
            o->SetHeaderField("Access-Control-Allow-Origin", "*");
            o->SetHeaderField("Access-Control-Allow-Headers", "content-type");
            o->Close();
        }
        void WebserverOptionsCloseComplete(IWebserverOptions* o) override
        {
            closed = true;
            delete o;
        }
        bool closed = false;
    } user;
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept(&user); };
    SendRequest(51, 24, Get("/anything"));
    Frame meta = ws->Expect(11);
    const char fields[] = "Allow\0GET, POST, PUT, PROPFIND, MOVE, COPY, MKCOL, DELETE, OPTIONS, LOCK, UNLOCK, PROPPATCH\0"
                          "Access-Control-Allow-Origin\0*\0Access-Control-Allow-Headers\0content-type";
    EXPECT_EQ(ParseEh(meta.body)[5], std::string(fields, sizeof(fields)));
    EXPECT_EQ(ws->Expect(18).id, 51u);
    ws->Send(51, 15, 0);
    ASSERT_TRUE(ws->Pump([&] { return user.closed; }));
    EXPECT_TRUE(owner.Has("http 512 /anything [] 0"));
}
