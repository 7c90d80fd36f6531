// An AppWebsocket on the real plugin link, against a fake webserver.
#include "net/socket.h"
#include "tests/web/fake_webserver.h"
#include "tests/websocket/test_session.h"
#include "web/webserver_plugin.h"

using web_test::Be16;
using web_test::Eh;
using web_test::LINK;

namespace {

const unsigned TEXT = 0x8000u << 16;
const unsigned FRAGMENT = 0x4000u << 16;
const unsigned RECV_ANY = 65535u << 16 | 5;

class app_websocket_link : public web_test::WebTest {
protected:
    void SetUp() override
    {
        WebTest::SetUp();
        local = CreateLocalSocketProvider();
        provider = CreateWebserverPluginProvider();
        ws = new web_test::FakeWebserver(mux, socketPath);
        link = provider->CreateWebserverPlugin(mux, local, &owner, socketPath.c_str(), "/app", &log);
        link->WebsocketListen("ws", nullptr);
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(1);
        ws->Send(LINK, 2, 0);
        ws->Send(LINK, 34, 1);
        ws->Sync();
        // Sessions are made inside the listen callback, as an instance does.
        owner.onWebsocket = [this](IWebserverPlugin* p) {
            session = new aws_test::TestSession(&appLog, nullptr, p);
            session->onClosed = [this] {
                closed = session->events;
                aws_test::TestSession* s = session;
                session = nullptr;
                delete s;
            };
        };
        ws->Send(7, 16, 0, Eh().Str(0, "/").Str(1, "/app/ws").Body());
        ws->Send(7, 17, 2);
        ASSERT_EQ(ws->Expect(17).gp, RECV_ANY);
        ASSERT_NE(session, nullptr);
    }
    void TearDown() override
    {
        delete link;
        EXPECT_EQ(session, nullptr) << "the link's loss ends every session";
        delete ws;
        delete provider;
        delete local;
        WebTest::TearDown();
    }
    // One text message from the client in the given parts; the answer's JSON.
    std::map<std::string, std::string> Request(const std::vector<std::string>& parts)
    {
        for (size_t i = 0; i < parts.size(); i++) {
            bool last = i + 1 == parts.size();
            ws->Send(7, 17, TEXT | (last ? 0 : FRAGMENT) | 6, parts[i]);
            if (!last) {
                EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
            }
        }
        web_test::Frame answer = ws->Expect(17);
        EXPECT_EQ(answer.gp, TEXT | 3);
        ws->Send(7, 17, 4);
        return aws_test::Members(answer.body);
    }

    ISocketProvider* local = nullptr;
    IWebserverPluginProvider* provider = nullptr;
    IWebserverPlugin* link = nullptr;
    web_test::FakeWebserver* ws = nullptr;
    web_test::Owner owner;
    aws_test::TestLog appLog;
    aws_test::TestSession* session = nullptr;
    std::vector<std::string> closed;
};

}  // namespace

TEST_F(app_websocket_link, a_fragmented_login_and_a_client_leaving_mid_request)
{
    std::string challenge = Request({R"({"mt":"App)", R"(Challenge"})"})["challenge"];
    EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
    std::string digest = aws_test::Sha256Hex("a:example.com:bob:g:Bob:" + challenge + ":pw");
    auto login = Request({R"({"mt":"AppLogin","app":"a","domain":"example.com","sip":"bob",)",
                          R"("guid":"g","dn":"Bob","digest":")" + digest + "\"}"});
    EXPECT_EQ(login["ok"], "true");
    EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);

    session->onMessage = [] {};
    ws->Send(7, 17, TEXT | 6, R"({"mt":"Slow","src":"s1"})");
    EXPECT_TRUE(ws->Sync().empty()) << "nothing is read while the request runs";
    ws->Send(7, 17, 8, Be16(WSCR_CONNECTION_LOST));
    ASSERT_TRUE(ws->Pump([this] { return session == nullptr; }));
    EXPECT_EQ(closed, (std::vector<std::string>{"connected", "message Slow s1", "closed"}));
}
