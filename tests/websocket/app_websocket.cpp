// The app websocket on a hand-driven websocket: what it hands its subclass,
// when it reads the next message, and whose password a login takes.
// The login's digest rules and the built-in answers are also covered end to
// end (tests/e2e/sessions.cpp); what stays here is what only a fake peer sees.
#include "tests/websocket/test_session.h"

using namespace aws_test;

namespace {

class app_websocket : public SessionTest {
protected:
    void Reopen(bool sysClient = false)
    {
        End();
        delete session;
        Open(sysClient);
    }
};

}  // namespace

TEST_F(app_websocket, malformed_messages_and_requests_before_login_close_the_socket)
{
    // Before the login only the handshake is served; KeepAlive gets nothing.
    Send(R"({"mt":"KeepAlive"})");
    EXPECT_TRUE(ws->sent.empty());
    EXPECT_EQ(Answer(R"({"mt":"CheckBuild"})"), (std::map<std::string, std::string>{{"mt", "CheckBuildResult"}}));
    const char* bad[] = {R"({"mt":"Test","src":"x"})", "{\"mt\":", "[\"mt\"]", "{\"mt\":1}", "{}", "",
                         "{\"mt\":\"KeepAlive\"} x"};
    for (const char* text : bad) {
        Send(text);
        EXPECT_TRUE(Closing()) << text;
        EXPECT_FALSE(ws->recvPending) << text;
        EXPECT_TRUE(ws->sent.empty()) << text;
        EXPECT_TRUE(session->events.empty()) << text;
        Reopen();
    }
    EXPECT_TRUE(capture.Logged("::Error"));
}

TEST_F(app_websocket, a_login_takes_the_password_of_its_domain_or_none_from_a_system_client)
{
    auto challenge = Answer(R"({"mt":"AppChallenge"})");
    ASSERT_EQ(challenge["challenge"].size(), 16u);
    EXPECT_EQ(challenge.count("sysClient"), 0u);
    auto result = Login("pw", "example.com", R"({ "k" : "v" })", R"({"k":"v"})", challenge["challenge"]);
    EXPECT_EQ(result, (std::map<std::string, std::string>{
                          {"mt", "AppLoginResult"}, {"app", "app1"}, {"domain", "example.com"}, {"ok", "true"}}));
    EXPECT_EQ(session->events, std::vector<std::string>{"connected v"});
    EXPECT_TRUE(ws->recvPending);
    EXPECT_STREQ(session->JsonApiUserSip(), "alice");
    EXPECT_STREQ(session->JsonApiInfo(), R"({"k":"v"})") << "kept for the APIs as compact JSON";

    // Another domain's password, and the user name a session builds from it.
    Reopen();
    session->domainPasswords["other.org"] = "other-pw";
    EXPECT_EQ(Login("other-pw", "other.org")["ok"], "true");
    EXPECT_STREQ(session->JsonApiUserDomain(), "other.org");

    Reopen(true);
    challenge = Answer(R"({"mt":"AppChallenge"})");
    EXPECT_EQ(challenge["sysClient"], "true");
    EXPECT_EQ(Login("", "example.com", "", "", challenge["challenge"])["ok"], "true");
}

TEST_F(app_websocket, check_login_verifies_a_digest_for_another_party)
{
    std::string digest = Sha256Hex("app2:example.com::::c1:pw");
    auto ok = Answer(R"({"mt":"AppCheckLogin","src":"q","app":"app2","domain":"example.com","challenge":"c1",)"
                     R"("digest":")" + digest + "\"}");
    EXPECT_EQ(ok, (std::map<std::string, std::string>{{"mt", "AppCheckLoginResult"}, {"src", "q"}, {"ok", "true"}}));
    auto bad = Answer(R"({"mt":"AppCheckLogin","src":"q","app":"app2","challenge":"c1","digest":")" + digest + "\"}");
    EXPECT_EQ(bad.count("ok"), 0u) << "no domain in the message and none logged in";

    Login("pw");
    auto fromLogin = Answer(R"({"mt":"AppCheckLogin","app":"app2","challenge":"c1","digest":")" + digest + "\"}");
    EXPECT_EQ(fromLogin["ok"], "true") << "the session's login domain stands in";
    EXPECT_EQ(Answer(R"({"mt":"AppCheckLogin","src":"r"})"),
              (std::map<std::string, std::string>{{"mt", "AppCheckLoginResult"}, {"src", "r"}}));
    EXPECT_FALSE(Closing());
}

TEST_F(app_websocket, send_results_reach_the_subclass_only_for_its_own_sends)
{
    std::string challenge = Challenge();
    ws->ConfirmAll();
    Login("pw", "example.com", "", "", challenge);
    EXPECT_EQ(Answer(R"({"mt":"Test","src":"t1"})"),
              (std::map<std::string, std::string>{{"mt", "TestResult"}, {"src", "t1"}}));
    ws->ConfirmAll();
    EXPECT_EQ(session->sendResults, 0u) << "login and test answers are the class's own";

    auto info = Answer(R"({"mt":"AppInfo"})");
    EXPECT_EQ(info, (std::map<std::string, std::string>{{"mt", "AppInfoResult"},
                                                         {"app", "app1"},
                                                         {"info", R"({"presence":true})"},
                                                         {"serviceInfo", "{}"},
                                                         {"deviceapp", "app-type"}}));
    ws->ConfirmAll();
    EXPECT_EQ(session->sendResults, 1u) << "an AppInfoResult after login counts as the subclass's";

    session->AppWebsocketMessageSendText(R"({"mt":"Own"})");
    session->AppWebsocketMessageSendBinary((char*)"b", 1);
    EXPECT_EQ(ws->Take(), R"({"mt":"Own"})");
    EXPECT_EQ(ws->Take(), "binary:b");
    ws->ConfirmAll();
    EXPECT_EQ(session->sendResults, 3u);
}

TEST_F(app_websocket, the_next_message_is_read_only_when_the_subclass_is_done)
{
    session->connectCompletes = false;
    Login("pw");
    EXPECT_FALSE(ws->recvPending) << "held by the connect hook";
    session->AppWebsocketMessageComplete();
    ASSERT_TRUE(ws->recvPending);

    session->onMessage = [] {};
    Send(R"({"mt":"Work","src":"w1"})");
    EXPECT_FALSE(ws->Deliver(R"({"mt":"Work","src":"w2"})"));
    session->AppWebsocketMessageComplete();
    session->AppWebsocketMessageComplete();  // a stray second completion opens nothing more
    Send(R"({"mt":"Work","src":"w2"})");
    EXPECT_FALSE(ws->recvPending);
    EXPECT_EQ(session->events, (std::vector<std::string>{"connected", "message Work w1", "message Work w2"}));
}

TEST_F(app_websocket, a_session_closed_mid_request_drops_late_calls_and_may_delete_itself)
{
    Login("pw");
    session->onMessage = [] {};
    Send(R"({"mt":"Slow"})");
    session->AppWebsocketClose();
    EXPECT_TRUE(Closing());
    session->AppWebsocketMessageSendText("{}");
    session->AppWebsocketMessageComplete();
    EXPECT_TRUE(ws->sent.empty());
    EXPECT_FALSE(ws->recvPending);
    session->onClosed = [this] {
        TestSession* s = session;
        session = nullptr;
        delete s;
    };
    End();
    EXPECT_EQ(session, nullptr);
}

TEST_F(app_websocket, fragments_make_one_message_and_an_endless_one_is_refused)
{
    Login("pw");
    ws->Deliver(R"({"mt":"Fr)", true, true);
    ws->Deliver("ag\",\"src\":", true, true);
    ws->Deliver("\"s\"}");
    EXPECT_EQ(session->events, (std::vector<std::string>{"connected", "message Frag s"}));
    ws->Deliver("bin", false, true);
    ws->Deliver("ary", false);
    EXPECT_EQ(session->events.back(), "binary binary");
    std::string part(40000, ' ');
    for (int i = 0; i < 3 && ws->recvPending; i++) ws->Deliver(part, true, true);
    EXPECT_TRUE(Closing()) << "more than a message may hold";
    EXPECT_FALSE(ws->recvPending);
}
