// A whole instance in the test process, on the real plugin link against a
// fake webserver and on the test database: the keys by which HTTP file
// requests find their session, and the user sessions of an app object.
#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "messages/messages.h"
#include "messages/messages_service.h"
#include "messages/messages_session.h"
#include "net/socket.h"
#include "service/app_args.h"
#include "tests/support/pg_test.h"
#include "tests/web/fake_webserver.h"
#include "tests/websocket/test_session.h"
#include "web/webserver_plugin.h"

using web_test::Be16;
using web_test::Eh;
using web_test::LINK;

namespace {

const unsigned TEXT = 0x8000u << 16;
const unsigned RECV_ANY = 65535u << 16 | 5;

class instance_sessions : public web_test::WebTest {
protected:
    void SetUp() override
    {
        WebTest::SetUp();
        ASSERT_TRUE(db.Create()) << db.Error();
        ws = new web_test::FakeWebserver(mux, socketPath);
        serviceArgs.serviceId = "messages";
        service = new MessagesService(mux, local, tcp, plugins, databases, files, &serviceArgs);
        AppInstanceArgs args;
        args.SetDefaults();
        args.appName = "keys";
        args.appDomain = "example.com";
        args.appPassword = "pw";
        args.webserver = socketPath.c_str();
        args.webserverPath = "/keys";
        address = db.Address();
        args.dbHost = address.c_str();
        args.dbName = db.Name();
        args.dbUser = db.User();
        args.dbPassword = db.Password();
        service->AppStart(&args);
        instance = static_cast<Messages*>(service->FindInstance("keys", "example.com"));
        ASSERT_NE(instance, nullptr);
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(1);
        ws->Send(LINK, 2, 0);
        ws->Send(LINK, 34, 1);
        ASSERT_TRUE(ws->Pump([this] { return instance->AcceptsWebsockets(); }, 60000)) << "no start-up";
        ws->Expect(4);
        ws->Send(LINK, 2, 0);
    }
    void TearDown() override
    {
        // Each client leaves, then the instance stops and the link goes.
        for (unsigned id : open) ws->Send(id, 17, 8, Be16(WSCR_NORMAL_CLOSE));
        if (instance) {
            instance->Stop();
            ws->Drop();
            EXPECT_TRUE(ws->Pump([this] { return service->InstanceCount() == 0; }, 20000)) << "the instance never stopped";
        }
        delete service;
        delete ws;
        delete files;
        delete databases;
        delete plugins;
        delete tcp;
        delete local;
        WebTest::TearDown();
    }
    // A new websocket as connection `id`, logged in; info is the login's "info" JSON or "".
    MessagesSession* Connect(unsigned id, const std::string& sip, const std::string& info)
    {
        ws->Send(id, 16, 0, Eh().Str(0, "/").Str(1, "/keys").Body());
        ws->Send(id, 17, 2);
        EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
        open.push_back(id);
        std::string challenge = Request(id, R"({"mt":"AppChallenge"})")["challenge"];
        EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
        EXPECT_EQ(Request(id, aws_test::AppLogin(sip, "D", "example.com", challenge, "pw", info))["ok"], "true");
        // The next receive comes once the user's topics are read.
        EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
        return instance->FindSession(++sessions);
    }
    // One text message from client `id`; the answer's members.
    std::map<std::string, std::string> Request(unsigned id, const std::string& text)
    {
        ws->Send(id, 17, TEXT | 6, text);
        web_test::Frame answer = ws->Expect(17);
        EXPECT_EQ(answer.gp, TEXT | 3);
        ws->Send(id, 17, 4);
        return aws_test::Members(answer.body);
    }
    // A request of the session's own: its reply, then the next receive.
    std::map<std::string, std::string> SessionRequest(unsigned id, const std::string& text)
    {
        auto reply = Request(id, text);
        EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
        return reply;
    }

    PgTestDatabase db;
    std::string address;
    ISocketProvider* local = CreateLocalSocketProvider();
    ISocketProvider* tcp = CreateTCPSocketProvider();
    IWebserverPluginProvider* plugins = CreateWebserverPluginProvider();
    IDatabaseProvider* databases = CreatePostgreSQLDatabaseProvider();
    IDbFilesProvider* files = CreateDbFilesProvider();
    AppServiceArgs serviceArgs;
    MessagesService* service = nullptr;
    Messages* instance = nullptr;
    web_test::FakeWebserver* ws = nullptr;
    std::vector<unsigned> open;
    unsigned long long sessions = 0;
};

}  // namespace

TEST_F(instance_sessions, file_requests_find_their_session_by_key_and_user_session_keys_are_the_app_objects)
{
    MessagesSession* object = Connect(7, "svc", R"({"appobj":"svc"})");
    MessagesSession* user = Connect(9, "ann", "");
    ASSERT_NE(object, nullptr);
    ASSERT_NE(user, nullptr);
    ASSERT_NE(object->key, user->key);
    EXPECT_EQ(instance->findSession(object->SessionId(), 0, object->key), object);
    EXPECT_EQ(instance->findSession(user->SessionId(), 0, user->key), user);
    EXPECT_EQ(instance->findSession(user->SessionId(), 0, object->key), nullptr);
    EXPECT_EQ(instance->findSession(99, 0, user->key), nullptr);

    auto reply = SessionRequest(7, R"({"mt":"Session","src":"s","session":5,"user":"bob"})");
    EXPECT_EQ(reply["mt"], "SessionResult");
    EXPECT_EQ(reply["session"], "5");
    unsigned long long first = 0;
    ASSERT_EQ(object->CheckUserSession(5, "bob", first), 5u);
    EXPECT_EQ(instance->findSession(object->SessionId(), 5, first), object);
    EXPECT_EQ(instance->findSession(object->SessionId(), 5, object->key), nullptr);
    EXPECT_EQ(instance->findSession(object->SessionId(), 6, first), nullptr);
    unsigned long long ignored = 0;
    EXPECT_EQ(object->CheckUserSession(5, "BOB", ignored), 0u) << "user names match exactly";
    EXPECT_EQ(object->CheckUserSession(6, "bob", ignored), 0u);
    // Only an app object acts for users.
    EXPECT_EQ(SessionRequest(9, R"({"mt":"Session","src":"s","session":5,"user":"bob"})")["mt"], "SessionResult");
    EXPECT_EQ(user->CheckUserSession(5, "bob", ignored), 0u);

    // The same number again is a new user session with a new key.
    SessionRequest(7, R"({"mt":"Session","src":"s","session":5,"user":"bob","dn":"Bob"})");
    unsigned long long second = 0;
    ASSERT_EQ(object->CheckUserSession(5, "bob", second), 5u);
    EXPECT_NE(first, second);
    EXPECT_EQ(instance->findSession(object->SessionId(), 5, first), nullptr);
    EXPECT_EQ(db.Value("SELECT dn FROM objects WHERE sip='bob'"), "Bob");

    // Closing it answers nothing; the next message is taken at once.
    ws->Send(7, 17, TEXT | 6, R"({"mt":"SessionClose","session":5})");
    EXPECT_EQ(ws->Expect(17).gp, RECV_ANY);
    EXPECT_EQ(object->CheckUserSession(5, "bob", ignored), 0u);
    EXPECT_EQ(instance->findSession(object->SessionId(), 5, second), nullptr);
}
