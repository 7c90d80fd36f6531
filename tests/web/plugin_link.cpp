// The plugin link against a fake webserver: registrations, reconnects and
// what it refuses. Single requests and websockets through it are covered end
// to end (tests/e2e/plugin_process.cpp, static_files.cpp, files.cpp).
#include "tests/web/fake_webserver.h"

using namespace web_test;

namespace {

class plugin_link : public LinkTest {
protected:
    // The owner told last deletes the link, as the app instance does.
    void DeleteOnLastClose(Owner& o)
    {
        o.onClose = [this](IWebserverPlugin* p, bool last) {
            EXPECT_EQ(p, link);
            if (!last) return;
            delete p;
            link = nullptr;
        };
    }
    void RunUntilDeleted()
    {
        for (int i = 0; i < 100 && link; i++) mux->RunOnce(1);
        EXPECT_EQ(link, nullptr);
    }
};

}  // namespace

TEST_F(plugin_link, web_root_goes_first_then_the_registrations_http_passthrough_websocket)
{
    Listen();
    Create("app/");
    link->WebsocketListen("ws", nullptr);
    link->PassthroughListen("raw", nullptr);
    link->HttpListen(nullptr, nullptr, nullptr, nullptr, "42");
    link->HttpListen(" /sub", nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(ws->Accept());
    EXPECT_EQ(ws->Handshake(4), (std::vector<std::string>{"1 /app", "1 /app/sub", "3 /app/raw", "4 /app/ws"}));
    EXPECT_EQ(ws->webRoot, std::string("/app\0", 5));

    // Once connected a registration goes out at once, with what it asks for.
    link->HttpListen("late", nullptr, "user", "secret", nullptr);
    auto late = ParseEh(ws->Expect(1).body);
    EXPECT_EQ(ItemString(late, 7), "/app/late");
    EXPECT_EQ(ItemString(late, 8), "user");
    EXPECT_EQ(ItemString(late, 9), "secret");
    link->HttpListen("dyn", nullptr, true, nullptr);
    auto dyn = ParseEh(ws->Expect(1).body);
    EXPECT_EQ(dyn.count(16), 1u);
    EXPECT_EQ(dyn.count(8), 0u);

    // Answers pair with registrations oldest first, whatever their kind.
    for (int i = 0; i < 6; i++) ws->Send(LINK, 2, 0);
    ws->Sync("/app/nothing");
    std::vector<std::string> registered;
    for (const std::string& e : owner.events)
        if (e.compare(0, 10, "registered") == 0) registered.push_back(e);
    EXPECT_EQ(registered, (std::vector<std::string>{"registered 0 /app", "registered 0 /app/sub",
                                                    "registered 2 /app/raw", "registered 1 /app/ws",
                                                    "registered 0 /app/late", "registered 0 /app/dyn"}));
    EXPECT_TRUE(owner.Has("connected"));

    // A root of "/" stays, and paths hang right below it.
    delete link;
    ws->Drop();
    Create("/");
    link->HttpListen("x", nullptr, nullptr, nullptr, nullptr);
    link->WebsocketListen(nullptr, nullptr);
    ASSERT_TRUE(ws->Accept());
    EXPECT_EQ(ws->Handshake(2), (std::vector<std::string>{"1 /x", "4 /"}));
    EXPECT_EQ(ws->webRoot, std::string("/\0", 2));
}

TEST_F(plugin_link, paths_registered_while_down_go_out_on_connect_and_again_after_every_reconnect)
{
    Create("/app");
    // Nobody listens yet: the link waits to retry.
    mux->RunOnce(0);
    EXPECT_EQ(mux->Timeout(), 1000);
    link->HttpListen("", nullptr, nullptr, nullptr, nullptr);
    link->WebsocketListen("ws", nullptr);

    Listen();
    Advance(1000);
    ASSERT_TRUE(ws->Accept());
    EXPECT_EQ(ws->Handshake(2), (std::vector<std::string>{"1 /app", "4 /app/ws"}));
    ws->Send(LINK, 34, 1);

    // Live requests when the webserver goes away.
    PostUser post;
    WsUser socket;
    owner.onHttp = [&](IWebserverPlugin* p, char*) { p->Accept(&post); };
    owner.onWebsocket = [&](IWebserverPlugin* p) { p->WebsocketAccept(&socket); };
    ws->Send(11, 16, 0, Eh().Str(0, "/").Str(1, "/app/ws").Str(6, "example.local").Body());
    ws->Send(12, 6, 0, Eh().Str(0, "/upload").Str(1, "/app").U64(17, 500).Body());
    EXPECT_EQ(ws->Expect(12).gp, 6u);
    ws->Drop();
    ASSERT_TRUE(ws->Pump([&] { return post.received.size() == 2 && socket.Closed(); }));
    EXPECT_EQ(post.received, (std::vector<std::string>{"<canceled>", "<closed>"}));
    EXPECT_EQ(socket.events.back(), "closed " + std::to_string(WSCR_PLUGIN_LINK_LOST));

    // A connect that worked starts the back-off over; everything is registered again.
    EXPECT_EQ(mux->Timeout(), 1000);
    Advance(1000);
    ASSERT_TRUE(ws->Accept());
    EXPECT_EQ(ws->Handshake(2), (std::vector<std::string>{"1 /app", "4 /app/ws"}));
    // Registrations left unanswered by the old connection do not take these answers.
    ws->Send(LINK, 2, 0);
    ws->Send(LINK, 2, 0);
    ws->Sync("/app/nothing");
    EXPECT_TRUE(owner.Has("registered 0 /app"));
    EXPECT_TRUE(owner.Has("registered 1 /app/ws"));
    EXPECT_FALSE(owner.Has("close 6"));
}

TEST_F(plugin_link, reconnect_delays_double_up_to_64_seconds_and_close_ends_the_waiting)
{
    Create("/app");
    mux->RunOnce(0);
    std::vector<int> delays;
    for (int i = 0; i < 9; i++) {
        delays.push_back(mux->Timeout());
        Advance(mux->Timeout());
    }
    EXPECT_EQ(delays, (std::vector<int>{1000, 2000, 4000, 8000, 16000, 32000, 64000, 64000, 64000}));
    EXPECT_TRUE(owner.events.empty());

    DeleteOnLastClose(owner);
    link->Close();
    EXPECT_TRUE(owner.events.empty()) << "reported from inside Close";
    RunUntilDeleted();
    EXPECT_EQ(owner.events, (std::vector<std::string>{"close 0 last"}));
}

TEST_F(plugin_link, refused_registrations_end_the_link_for_every_owner_without_reconnect)
{
    struct Case {
        unsigned result;
        wsp_close_reason_t reason;
        const char* log;
    } cases[] = {
        {1, WSP_REGISTER_PATH_INVALID,
         "WebserverPlugin::HandleRegisterResult(): Failed to register path /app/ws (websocket) - path is invalid."},
        {7, WSP_PATH_ALREADY_REGISTERD,
         "WebserverPlugin::HandleRegisterResult(): Failed to register path /app/ws (websocket) - path is already "
         "registered."},
    };
    for (const Case& c : cases) {
        Listen();
        Owner other;
        owner.events.clear();
        Create("/app");
        link->HttpListen("", nullptr, nullptr, nullptr, nullptr);
        link->WebsocketListen("ws", &other);
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(2);
        DeleteOnLastClose(other);
        ws->Send(LINK, 2, 0);
        ws->Send(LINK, 2, c.result);
        EXPECT_TRUE(ws->WaitClosed());
        RunUntilDeleted();
        std::string reason = "close " + std::to_string(c.reason);
        EXPECT_EQ(owner.events.back(), reason);
        EXPECT_EQ(other.events, (std::vector<std::string>{reason + " last"}));
        EXPECT_EQ(mux->TimerCount(), 0u);
        EXPECT_TRUE(capture.Logged(c.log)) << c.log;
    }
}

TEST_F(plugin_link, malformed_extended_headers_drop_the_connection_and_it_comes_back)
{
    Listen();
    Create("/app");
    link->HttpListen("", nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(ws->Accept());
    ws->Handshake(1);
    ws->Send(LINK, 34, 1);

    const std::string good = Eh().Str(0, "/x").Str(1, "/app").items;
    const std::string bodies[] = {
        "abc",
        Be32((unsigned)good.size() + 1) + good,
        Be32((unsigned)good.size() - 1) + good,
        Be32(5) + std::string("\0\0\x09" "ab", 5),
        Eh().Raw(0, "").Str(1, "/app").Body(),
        Eh().Raw(0, "/x").Str(1, "/app").Body(),
        Eh().Str(0, "/x").Str(1, "/app").Raw(4, "abc").Body(),
        Eh().Str(0, "/x").Str(1, "/app").Raw(17, "1234").Body(),
        Eh().Str(0, "/x").Str(1, "/app").Raw(3, Be32(2) + std::string(17, '\1')).Body(),
        Eh().Str(0, "/x").Str(1, "/app").Raw(5, std::string("Host\0", 5)).Body(),
    };
    for (const std::string& body : bodies) {
        ws->Send(9, 5, 0, body);
        EXPECT_TRUE(ws->WaitClosed()) << testing::PrintToString(body);
        ws->Drop();
        Advance(1000);
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(1);
        ws->Send(LINK, 34, 1);
    }
    EXPECT_FALSE(owner.Has("http 1 /x [] 0"));
    EXPECT_TRUE(capture.Logged("malformed extended header"));

    // Unknown item types and any item order are fine.
    ws->Send(10, 5, 0, Eh().U32(40, 7).Str(1, "/app").Str(0, "/x").Body());
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND);
    EXPECT_TRUE(owner.Has("http 1 /x [] 0"));
}

TEST_F(plugin_link, requests_outside_the_registered_paths_are_refused_and_strays_ignored)
{
    Listen();
    Create("/app");
    link->HttpListen("", nullptr, nullptr, nullptr, nullptr);
    link->WebsocketListen("ws", nullptr);
    ASSERT_TRUE(ws->Accept());
    ws->Handshake(2);

    ws->Send(1, 6, 0, Eh().Str(0, "/p").Str(1, "/other").Body());
    Frame post = ws->Expect(11);
    EXPECT_EQ(post.id, 1u);
    EXPECT_EQ(post.gp, (unsigned)WSP_CANCEL_BAD_REQUEST);
    EXPECT_TRUE(post.body.empty());
    EXPECT_TRUE(capture.Logged(
        "WebserverPlugin::HandleRequest(): got request WSM_POST_REQUEST for not registered path /other"));

    ws->Send(2, 5, 0, Eh().Str(0, "/g").Str(1, "/other").Body());
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_BAD_REQUEST);
    EXPECT_TRUE(capture.Logged("The path for the request (/other) seems to be not registered."));

    // A request for a registered path without a resource is no request either.
    ws->Send(3, 6, 0, Eh().Str(1, "/app").Body());
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_BAD_REQUEST);

    ws->Send(4, 16, 0, Eh().Str(0, "/").Str(1, "/app/elsewhere").Body());
    Frame reject = ws->Expect(17);
    EXPECT_EQ(reject.id, 4u);
    EXPECT_EQ(reject.gp, 1u);
    EXPECT_TRUE(capture.Logged("WebserverPlugin::SocketRecvResult(): websocket listen result for not registered path "
                       "/app/elsewhere"));

    // An owner that does not decide itself refuses: a GET is not found, a websocket rejected.
    ws->Send(5, 5, 0, Eh().Str(0, "/g").Str(1, "/app").Body());
    EXPECT_EQ(ws->Expect(11).gp, (unsigned)WSP_CANCEL_NOT_FOUND);
    ws->Send(6, 16, 0, Eh().Str(0, "/").Str(1, "/app/ws").Body());
    EXPECT_EQ(ws->Expect(17).gp, 1u);

    // Stray messages: unknown types are logged, late answers for ended requests dropped.
    ws->Send(LINK, 99, 0, "whatever");
    ws->Send(77, 10, 0);
    ws->Send(77, 15, 0);
    // Two answers for the two registrations, and one too many.
    for (int i = 0; i < 3; i++) ws->Send(LINK, 2, 0);
    EXPECT_TRUE(ws->Sync("/app/none").empty());
    for (const char* type : {"<ERROR: type unkown>", "WSM_REGISTER_RESULT"})
        EXPECT_TRUE(capture.Logged(std::string("WARNING: IWebserverPlugin received unexpected message (") + type +
                                   ") - ignoring"))
            << type;
}

TEST_F(plugin_link, a_websocket_ended_by_the_webserver_hands_back_its_receive_and_tolerates_strays)
{
    Listen();
    Create("/app");
    link->WebsocketListen("ws", nullptr);
    Connect(1);
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
