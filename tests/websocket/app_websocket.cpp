// The app websocket on a hand-driven websocket: what it hands its subclass
// and its APIs, when it reads the next message, and the login's keys.
// The login's digest rules, the built-in answers and malformed messages are
// covered end to end (tests/e2e/sessions.cpp); here what only a fake peer sees.
#include <openssl/rc4.h>

#include "tests/websocket/test_session.h"

using namespace aws_test;

namespace {

class app_websocket : public SessionTest {
protected:
    void Reopen(bool sysClient = false, JsonApiContext* context = nullptr)
    {
        End();
        delete session;
        Open(sysClient, context);
    }
};

std::string Rc4Hex(const std::string& key, const std::string& data)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    RC4_KEY k;
    RC4_set_key(&k, (int)key.size(), (const unsigned char*)key.data());
    std::string out(data.size(), '\0');
    RC4(&k, data.size(), (const unsigned char*)data.data(), (unsigned char*)&out[0]);
#pragma GCC diagnostic pop
    std::string hex;
    char b[3];
    for (unsigned char c : out) snprintf(b, sizeof(b), "%02x", c), hex += b;
    return hex;
}

// An API that records its messages and answers each through the connection.
class EchoApi : public JsonApi {
public:
    EchoApi(IJsonApiConnection* connection, std::vector<std::string>& events) : connection(connection), events(events)
    {
    }
    const char* Name() override { return name; }
    void JsonApiStart() override { events.push_back("start"); }
    void Message(json_io&, unsigned short, const char* mt, const char*) override
    {
        events.push_back(std::string("api ") + mt);
        connection->JsonApiMessageText(R"({"mt":"EchoResult","api":"Echo"})");
        if (completes) connection->JsonApiMessageComplete();
    }
    void JsonApiConnectionClosed() override
    {
        events.push_back("api closed");
        delete this;
    }
    IJsonApiConnection* connection;
    std::vector<std::string>& events;
    const char* name = "Echo";
    bool completes = true;
};

class EchoProvider : public JsonApiProvider {
public:
    const char* JsonApiName() override { return "Echo"; }
    JsonApi* CreateJsonApi(IJsonApiConnection* connection) override
    {
        created++;
        return new EchoApi(connection, events);
    }
    unsigned created = 0;
    std::vector<std::string> events;
};

}  // namespace

TEST_F(app_websocket, logins_key_the_session_helpers_with_the_password_of_their_domain_or_client)
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

    std::string key = Sha256Hex("solvantiqueAppSessionKey:" + challenge["challenge"] + ":pw");
    char out[200];
    session->AppWebsocketHash("s", "data", out, 65);
    EXPECT_EQ(out, Sha256Hex("s:" + key + ":data"));
    session->AppWebsocketEncrypt("s", "secret text", out, sizeof(out));
    EXPECT_EQ(out, Rc4Hex("s:" + key, "secret text"));
    char back[100];
    session->AppWebsocketDecrypt("s", out, back, sizeof(back));
    EXPECT_STREQ(back, "secret text");
    for (const char* notHex : {"zz11", "abc"}) {
        session->AppWebsocketDecrypt("s", notHex, back, sizeof(back));
        EXPECT_STREQ(back, "") << notHex;
    }

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

TEST_F(app_websocket, a_login_without_password_waits_for_the_subclass)
{
    session->password = nullptr;
    Send(LoginText("late"));
    EXPECT_TRUE(ws->sent.empty());
    EXPECT_FALSE(ws->recvPending) << "receiving is held until the subclass has answered";
    EXPECT_EQ(session->events, std::vector<std::string>{"async login"});

    char key[65] = "x";
    EXPECT_FALSE(session->AppWebsocketLoginComplete("wrong", key, sizeof(key)));
    EXPECT_STREQ(key, "");
    EXPECT_EQ(Members(ws->Take()), (std::map<std::string, std::string>{{"mt", "AppLoginResult"}, {"app", "app1"}}));
    EXPECT_FALSE(Closing()) << "a late refusal leaves the connection to the client";
    EXPECT_FALSE(capture.Logged("wrong")) << "passwords stay out of the log";
    session->AppWebsocketMessageComplete();
    ASSERT_TRUE(ws->recvPending);

    std::string challenge = Challenge();
    Send(LoginText("late", "example.com", "", "", challenge));
    EXPECT_TRUE(session->AppWebsocketLoginComplete("late", key, sizeof(key)));
    EXPECT_EQ(key, Sha256Hex("solvantiqueAppSessionKey:" + challenge + ":late"));
    EXPECT_EQ(Members(ws->Take())["ok"], "true");
    session->AppWebsocketMessageComplete();
    EXPECT_EQ(Answer(R"({"mt":"Test","src":"t"})")["mt"], "TestResult");
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

TEST_F(app_websocket, api_messages_go_to_registered_and_context_created_apis)
{
    EchoProvider provider;
    JsonApiContext context;
    context.AddJsonApiProvider(&provider);
    Reopen(false, &context);
    Login("pw");
    ws->ConfirmAll();
    unsigned sendResults = session->sendResults;

    Send(R"({"mt":"Hello","api":"Echo"})");
    Send(R"({"mt":"Again","api":"Echo"})");
    Send(R"({"mt":"Lost","api":"Nobody"})");
    EXPECT_TRUE(ws->recvPending) << "a message for no API is dropped";
    EXPECT_EQ(provider.created, 1u);
    EXPECT_EQ(provider.events, (std::vector<std::string>{"start", "api Hello", "api Again"}));
    EXPECT_EQ(ws->sent.size(), 2u);
    ws->ConfirmAll();
    EXPECT_EQ(session->sendResults, sendResults) << "API sends are not the subclass's";

    // An API holds the receive until it is done with the message.
    std::vector<std::string> heldEvents;
    EchoApi held(session, heldEvents);
    held.name = "Held";
    held.completes = false;
    session->RegisterJsonApi(&held);
    Send(R"({"mt":"Mine","api":"Held"})");
    EXPECT_FALSE(ws->recvPending);
    held.connection->JsonApiMessageComplete();
    EXPECT_TRUE(ws->recvPending);
    session->UnRegisterJsonApi(&held);
    End();
    EXPECT_EQ(provider.events.back(), "api closed");
    EXPECT_EQ(session->events.back(), "closed");
}
