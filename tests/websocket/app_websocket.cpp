#include "tests/websocket/test_session.h"

using namespace aws_test;

namespace {

class app_websocket : public SessionTest {};

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

TEST_F(app_websocket, before_login_only_the_handshake_is_served)
{
    Send(R"({"mt":"KeepAlive"})");
    EXPECT_TRUE(ws->sent.empty());
    EXPECT_EQ(Answer(R"({"mt":"CheckBuild"})"), (std::map<std::string, std::string>{{"mt", "CheckBuildResult"}}));
    Send(R"({"mt":"Test","src":"x"})");
    EXPECT_TRUE(ws->sent.empty());
    EXPECT_TRUE(Closing());
    EXPECT_TRUE(Logged("::Error"));
    EXPECT_FALSE(ws->recvPending);
    EXPECT_TRUE(session->events.empty());
}

TEST_F(app_websocket, malformed_messages_close_the_socket)
{
    const char* bad[] = {"{\"mt\":", "[\"mt\"]", "{\"mt\":1}", "{}", "", "{\"mt\":\"KeepAlive\"} x"};
    for (const char* text : bad) {
        Send(text);
        EXPECT_TRUE(Closing()) << text;
        EXPECT_FALSE(ws->recvPending) << text;
        End();
        delete session;
        Open();
    }
}

TEST_F(app_websocket, check_build_points_into_the_current_build)
{
    struct {
        const char* url;
        const char* answer;
    } cases[] = {
        {"/a/b/123/x.htm", "/a/b/77/x.htm"},
        {"/a/b/123/x.htm?next=/c/d", "/a/b/77/x.htm?next=/c/d"},
        {"/a/b/77/x.htm", nullptr},
        {"/a/b/c/x.htm", nullptr},
        {"/1/x.htm", nullptr},
        {"?/a/1/x", nullptr},
        {"x.htm", nullptr},
    };
    for (auto& c : cases) {
        auto answer = Answer(std::string(R"({"mt":"CheckBuild","url":")") + c.url + "\"}");
        if (c.answer) EXPECT_EQ(answer["url"], c.answer) << c.url;
        else EXPECT_EQ(answer.count("url"), 0u) << c.url;
    }
}

TEST_F(app_websocket, built_in_answers_after_login_and_send_results_reach_only_the_subclass_sends)
{
    std::string challenge = Challenge();
    ws->ConfirmAll();
    Login("pw", "example.com", "", "", challenge);
    ws->ConfirmAll();
    EXPECT_EQ(session->sendResults, 0u) << "the login answer is the class's own";

    EXPECT_EQ(Answer(R"({"mt":"Test","src":"t1"})"),
              (std::map<std::string, std::string>{{"mt", "TestResult"}, {"src", "t1"}}));
    ws->ConfirmAll();
    EXPECT_EQ(session->sendResults, 0u);

    auto info = Answer(R"({"mt":"AppInfo"})");
    EXPECT_EQ(info, (std::map<std::string, std::string>{{"mt", "AppInfoResult"},
                                                         {"app", "app1"},
                                                         {"info", R"({"presence":true})"},
                                                         {"serviceInfo", "{}"},
                                                         {"deviceapp", "app-type"}}));
    EXPECT_TRUE(Logged("::AppWebsocketAppInfo app:app1"));
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
    End();
    delete session;
    Open(false, &context);
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
    // As a real session does: it deletes itself when told, touching nothing after.
    session->onClosed = [this] {
        TestSession* s = session;
        session = nullptr;
        delete s;
    };
    End();
    EXPECT_EQ(session, nullptr);
    EXPECT_TRUE(Logged("::AppWebsocketClosed"));
}
