// App websocket sessions as a client sees them: through platform-webserver
// into the real messages on the test PostgreSQL. The app login with its
// digest, the topics a session starts with (apps, personal topic, app object,
// sub-topics granted by topic_access rows), the built-in messages, user
// sessions of an app object, the database reset of an administrator, and
// clients that leave in the middle of a request.
#include "tests/e2e/app_client.h"

#include <regex>

#include "runtime/build_info.h"

using namespace e2e;

namespace {

const std::string domain = "e2e.test";
const std::string password = "e2e-app-secret";

// What "ReadTopics" lists for one topic.
struct Topic {
    std::string sip;
    std::optional<std::string> dn;
    bool admin = false;
};

std::string Sql(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

class e2e_sessions : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(web.port, 0) << web.process.Output();
        // Websockets are taken once the schema is there.
        ASSERT_TRUE(web.Registered("/messages", {"http path /messages", "websocket path /messages"}, 0, 60000))
            << web.process.Output() << service.process.Output();
    }
    void TearDown() override
    {
        // Under AddressSanitizer an exit code of 0 also says that nothing leaked.
        EXPECT_EQ(service.process.Stop(), 0) << service.process.Output();
        EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
    }

    std::unique_ptr<AppClient> Client() { return std::make_unique<AppClient>(web.port, password, domain); }
    static LoginRequest User(const std::string& sip, const std::string& dn)
    {
        LoginRequest r;
        r.sip = sip;
        r.dn = dn;
        return r;
    }
    std::string Value(const std::string& sql) { return site.db.Value(sql); }
    void Exec(const std::string& sql) { ASSERT_TRUE(site.db.Query(sql)) << sql << ": " << site.db.Error(); }
    std::string ObjectId(const std::string& sip) { return Value("SELECT id FROM objects WHERE sip = " + Sql(sip)); }

    // Sends "ReadTopics" and checks the answer against `expected`, in that
    // order: one "Topic" per topic with the request's src, the topic's row id,
    // its title and "admin" only where expected; then "ReadTopicsResult".
    void ExpectTopics(AppClient& client, const std::string& src, const std::vector<Topic>& expected)
    {
        std::vector<JsonMessage> got;
        ASSERT_TRUE(client.Exchange("{\"mt\":\"ReadTopics\",\"src\":" + Quote(src) + "}", "ReadTopicsResult", got))
            << client.ws.error.message() << "\n" << Texts(got);
        const JsonMessage& result = got.back();
        EXPECT_EQ(result.String("src"), src) << result.text;
        std::vector<std::string> names, wanted;
        for (size_t i = 0; i + 1 < got.size(); i++) names.push_back(got[i].String("sip"));
        for (auto& t : expected) wanted.push_back(t.sip);
        ASSERT_EQ(names, wanted) << Texts(got);
        for (size_t i = 0; i < expected.size(); i++) {
            const JsonMessage& m = got[i];
            const Topic& t = expected[i];
            EXPECT_EQ(m.Mt(), "Topic") << m.text;
            EXPECT_EQ(m.String("src"), src) << m.text;
            EXPECT_EQ(m.IsString("dn"), t.dn.has_value()) << m.text;
            if (t.dn) {
                EXPECT_EQ(m.String("dn"), *t.dn) << m.text;
            }
            bool hasId = false;
            unsigned long long id = m.Number("id", 0, &hasId);
            EXPECT_TRUE(hasId) << m.text;
            EXPECT_EQ(std::to_string(id), ObjectId(t.sip)) << m.text;
            if (t.admin) {
                EXPECT_TRUE(m.True("admin")) << m.text;
            }
            else {
                EXPECT_FALSE(m.Has("admin")) << m.text;
            }
        }
    }

    Installation site;
    StandIn web{site.socketPath};
    Service service{site.socketPath, site.db, "", {"--app-domain=" + domain, "--app-password=" + password}};
};

}  // namespace

TEST_F(e2e_sessions, the_login_takes_one_good_digest_per_challenge_and_closes_on_a_bad_one_or_on_requests_before_it)
{
    // "KeepAlive" before the login is answered by nothing, and the socket stays.
    auto alice = Client();
    ASSERT_TRUE(alice->Connect()) << alice->ws.error.message();
    ASSERT_TRUE(alice->Send("{\"mt\":\"KeepAlive\"}"));
    std::string first = alice->Challenge();
    EXPECT_EQ(alice->lastChallengeResult.Mt(), "AppChallengeResult") << alice->lastChallengeResult.text;
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{16}"))) << first;
    EXPECT_FALSE(alice->lastChallengeResult.Has("sysClient")) << alice->lastChallengeResult.text;
    // Every challenge is new; the last one counts.
    std::string second = alice->Challenge();
    EXPECT_TRUE(std::regex_match(second, std::regex("[0-9a-f]{16}"))) << second;
    EXPECT_NE(first, second);

    JsonMessage result;
    ASSERT_TRUE(alice->SendLogin(User("alice", "Alice"), result)) << alice->ws.error.message();
    EXPECT_EQ(result.Mt(), "AppLoginResult") << result.text;
    EXPECT_EQ(result.String("app"), "solvantique-messages") << result.text;
    EXPECT_EQ(result.String("domain"), domain) << result.text;
    EXPECT_TRUE(result.True("ok")) << result.text;
    // Logged in: requests are taken.
    JsonMessage test;
    ASSERT_TRUE(alice->Send("{\"mt\":\"Test\",\"src\":\"in\"}") && alice->Receive(test)) << alice->ws.error.message();
    EXPECT_EQ(test.Mt(), "TestResult") << test.text;
    // The same challenge a second time: refused, and the socket closed.
    ASSERT_TRUE(alice->SendLogin(User("alice", "Alice"), result)) << alice->ws.error.message();
    EXPECT_EQ(result.Mt(), "AppLoginResult") << result.text;
    EXPECT_FALSE(result.Has("ok")) << result.text;
    EXPECT_EQ(result.String("domain"), domain) << result.text;
    std::string extra;
    EXPECT_TRUE(alice->ClosedByService(&extra)) << alice->ws.error.message() << " " << extra;

    // Logins that fail: each gets its result without "ok", then the socket is closed.
    struct Failing {
        std::string what;
        LoginRequest request;
        bool challenge = true;
    };
    std::vector<Failing> failing;
    {
        LoginRequest r = User("bob", "Bob");
        r.password = "not-the-password";
        failing.push_back({"a digest over another password", r});
        failing.push_back({"a login without a challenge", User("bob", "Bob"), false});
        r = User("bob", "Bob");
        r.guid.reset();
        failing.push_back({"a login without guid", r});
        r = User("bob", "Bob");
        r.digest = std::string(64, '0');
        failing.push_back({"a made-up digest", r});
        // The info object is hashed as its compact text: not as sent with blanks, and not left out.
        r = User("bob", "Bob");
        r.extraInfo = "\"t\":\"x y\",\"n\":12";
        r.sentInfo = "{ \"t\": \"x y\", \"n\": 12 }";
        LoginRequest spaced = r;
        spaced.hashedInfo = r.sentInfo;
        r.leaveInfoOutOfDigest = true;
        failing.push_back({"a digest without the info object", r});
        failing.push_back({"a digest over the info text with blanks", spaced});
    }
    for (auto& f : failing) {
        SCOPED_TRACE(f.what);
        auto client = Client();
        ASSERT_TRUE(client->Connect()) << client->ws.error.message();
        if (f.challenge) {
            ASSERT_FALSE(client->Challenge().empty());
        }
        std::string text = client->LoginText(f.request, f.challenge ? client->challenge : "0123456789abcdef");
        JsonMessage answer;
        ASSERT_TRUE(client->Send(text) && client->Receive(answer)) << client->ws.error.message();
        EXPECT_EQ(answer.Mt(), "AppLoginResult") << answer.text;
        EXPECT_FALSE(answer.Has("ok")) << answer.text;
        EXPECT_TRUE(client->ClosedByService(&extra)) << client->ws.error.message() << " " << extra;
    }

    // The info object sent with blanks and hashed compact logs in.
    {
        auto client = Client();
        ASSERT_TRUE(client->Connect()) << client->ws.error.message();
        LoginRequest r = User("bob", "Bob");
        r.extraInfo = "\"t\":\"x y\",\"n\":12,\"o\":{\"k\":true,\"e\":{}},\"a\":[1,\"two\",[]]";
        r.sentInfo =
            "{ \"t\" : \"x y\" ,\n  \"n\": 12, \"o\": { \"k\": true, \"e\": { } }, \"a\": [ 1, \"two\", [ ] ] }";
        EXPECT_TRUE(client->Login(r));
        // An empty info object is hashed too.
        auto empty = Client();
        ASSERT_TRUE(empty->Connect()) << empty->ws.error.message();
        r = User("carl", "Carl");
        r.emptyInfo = true;
        EXPECT_TRUE(empty->Login(r));
    }

    // Anything but the handshake messages, "KeepAlive" and "CheckBuild" before
    // the login closes the socket without an answer; so does text that is no
    // message.
    for (std::string message : {"{\"mt\":\"Test\",\"src\":\"early\"}", "{\"mt\":\"ReadTopics\"}",
                                "{\"mt\":\"AppInfo\",\"app\":\"solvantique-messages\"}", "{\"mt\":\"Session\"}",
                                "{\"src\":\"no mt\"}", "not json at all"}) {
        for (bool afterChallenge : {false, true}) {
            SCOPED_TRACE(message + (afterChallenge ? " after a challenge" : ""));
            auto client = Client();
            ASSERT_TRUE(client->Connect()) << client->ws.error.message();
            if (afterChallenge) {
                ASSERT_FALSE(client->Challenge().empty());
            }
            ASSERT_TRUE(client->Send(message));
            EXPECT_TRUE(client->ClosedByService(&extra)) << client->ws.error.message() << " " << extra;
        }
    }

    // A user of another domain is known by name@domain: its object and its
    // personal topic carry that name, and the reply names the instance's domain.
    auto carol = Client();
    ASSERT_TRUE(carol->Connect());
    LoginRequest r = User("carol", "Carol");
    r.domain = "other.example";
    ASSERT_TRUE(carol->Login(r, &result));
    EXPECT_EQ(result.String("domain"), domain) << result.text;
    ExpectTopics(*carol, "c", {{"carol@other.example", "Carol"}});
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = 'carol@other.example'"), "Carol");
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip = 'carol'"), "0");

    EXPECT_TRUE(service.process.Running()) << service.process.Output();
}

TEST_F(e2e_sessions, a_session_starts_with_its_apps_its_personal_topic_its_app_object_and_the_sub_topics_granted_to_it)
{
    // Sub-topics and their access rows exist before anyone logs in.
    Exec("INSERT INTO objects (sip, dn) VALUES ('team?alpha', 'Alpha'), ('team?Beta', 'Beta'), ('team?crew', 'Crew'), "
         "('team?guest', 'Guest'), ('team?secret', 'Secret'), ('team?ops', 'Ops'), ('team?named', 'Named'), "
         "('alice?notes', 'Notes'), ('other?open', 'Open')");
    auto grant = [&](const std::string& topic, bool grp, const std::string& sip, bool admin) {
        Exec("INSERT INTO topic_access (topic, grp, sip, admin) SELECT id, " + std::string(grp ? "true" : "false") +
             ", " + Sql(sip) + ", " + (admin ? "true" : "false") + " FROM objects WHERE sip = " + Sql(topic));
    };
    grant("team?alpha", false, "alice", true);   // the user itself, as administrator
    grant("team?Beta", true, "devs", false);     // a group the user belongs to
    grant("team?crew", false, "", false);        // everyone
    grant("team?crew", false, "alice", true);    // and the user as administrator on top
    grant("team?guest", false, "carol@other.example", false);  // a user of another domain
    grant("team?secret", false, "bob", true);    // another user
    grant("team?ops", true, "ops", false);       // a group the user is not in
    grant("team?named", false, "devs", false);   // the group's name, but not as a group
    grant("alice?notes", false, "alice", false); // below the personal topic
    grant("other?open", false, "", false);       // below a topic the user does not have

    LoginRequest r = User("alice", "Alice Example");
    r.apps = {{std::string("team@" + domain + "~x"), std::string("Team")},
              {std::string("news@other.example"), std::string("News")},
              {std::string("plain~suffix"), std::string("Plain")},
              {std::nullopt, std::string("No name")},
              {std::string("Team"), std::string("Another title")}};
    r.groups = {"devs", "qa"};
    r.appobj = "svc~adminx";
    r.appdn = "Service";
    auto alice = Client();
    ASSERT_TRUE(alice->ConnectAndLogin(r));
    // By name without regard to case; the first title of a name stays.
    ExpectTopics(*alice, "topics", {{"alice", "Alice Example"},
                                    {"alice?notes", "Notes"},
                                    {"news@other.example", "News"},
                                    {"plain", "Plain"},
                                    {"svc", "Service"},
                                    {"team", "Team"},
                                    {"team?alpha", "Alpha", true},
                                    {"team?Beta", "Beta"},
                                    {"team?crew", "Crew", true}});
    // The session's user and its topics have their objects now.
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = 'alice'"), "Alice Example");
    for (std::string sip : {"team", "plain", "svc", "news@other.example"}) EXPECT_NE(ObjectId(sip), "") << sip;
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip LIKE 'team@%' OR sip LIKE '%~%'"), "0");

    // "x~adminx" is no administrator: "DatabaseReset" is an unknown message,
    // so the "Test" sent after it is the first thing answered.
    std::string objects = Value("SELECT count(*) FROM objects");
    ASSERT_TRUE(alice->Send("{\"mt\":\"DatabaseReset\",\"src\":\"reset\"}"));
    ASSERT_TRUE(alice->Send("{\"mt\":\"Test\",\"src\":\"after\"}"));
    JsonMessage m;
    ASSERT_TRUE(alice->Receive(m)) << alice->ws.error.message();
    EXPECT_EQ(m.Mt(), "TestResult") << m.text;
    EXPECT_EQ(m.String("src"), "after") << m.text;
    std::string late;
    EXPECT_TRUE(alice->Silent(1000, &late)) << late;
    EXPECT_EQ(Value("SELECT count(*) FROM objects"), objects);

    // A user of another domain without groups: only what is granted to
    // everyone and to its name@domain.
    auto carol = Client();
    LoginRequest c = User("carol", "Carol");
    c.domain = "other.example";
    c.apps = {{std::string("team@" + domain), std::string("Team")}};
    ASSERT_TRUE(carol->ConnectAndLogin(c));
    ExpectTopics(*carol, "", {{"carol@other.example", "Carol"},
                              {"team", "Team"},
                              {"team?crew", "Crew"},
                              {"team?guest", "Guest"}});

    // Without info: the personal topic alone.
    auto dave = Client();
    ASSERT_TRUE(dave->ConnectAndLogin(User("dave", "Dave")));
    ExpectTopics(*dave, "d", {{"dave", "Dave"}});

    // Another domain's app name stays whole even with a suffix; the group
    // list given as empty grants no group row.
    auto erin = Client();
    LoginRequest e = User("erin", "Erin");
    e.apps = {{std::string("team@other.example~x"), std::string("Theirs")}, {std::string("team~y"), std::nullopt}};
    e.groupsGiven = true;
    ASSERT_TRUE(erin->ConnectAndLogin(e));
    ExpectTopics(*erin, "e", {{"erin", "Erin"}, {"team", std::nullopt}, {"team?crew", "Crew"},
                              {"team@other.example", "Theirs"}});
    EXPECT_TRUE(service.process.Running()) << service.process.Output();
}

TEST_F(e2e_sessions, built_in_messages_are_answered_and_a_message_in_three_fragments_is_handled_once)
{
    auto client = Client();
    ASSERT_TRUE(client->Connect()) << client->ws.error.message();
    std::string build = messagesBuild;

    // "CheckBuild" is answered before the login: a page under another
    // build's directory is pointed at the current one.
    struct {
        std::string request;
        std::optional<std::string> url;
    } checks[] = {
        {"{\"mt\":\"CheckBuild\",\"url\":\"/a/b/123" + build + "/x.htm\"}", "/a/b/" + build + "/x.htm"},
        {"{\"mt\":\"CheckBuild\",\"url\":\"/messages/9" + build + "/p.htm?t=/c/d\"}",
         "/messages/" + build + "/p.htm?t=/c/d"},
        {"{\"mt\":\"CheckBuild\",\"url\":\"/a/b/" + build + "/x.htm\"}", std::nullopt},
        {"{\"mt\":\"CheckBuild\",\"url\":\"/a/b/c/x.htm\"}", std::nullopt},
        {"{\"mt\":\"CheckBuild\",\"url\":\"/7/x.htm\"}", std::nullopt},
        {"{\"mt\":\"CheckBuild\",\"url\":\"?/a/5/x\"}", std::nullopt},
        {"{\"mt\":\"CheckBuild\",\"url\":\"\"}", std::nullopt},
        {"{\"mt\":\"CheckBuild\"}", std::nullopt},
    };
    for (auto& c : checks) {
        SCOPED_TRACE(c.request);
        JsonMessage m;
        ASSERT_TRUE(client->Send(c.request) && client->Receive(m)) << client->ws.error.message();
        EXPECT_EQ(m.Mt(), "CheckBuildResult") << m.text;
        EXPECT_EQ(m.IsString("url"), c.url.has_value()) << m.text;
        if (c.url) {
            EXPECT_EQ(m.String("url"), *c.url) << m.text;
        }
    }

    LoginRequest r = User("alice", "Alice");
    r.app = "solvantique-topic";
    ASSERT_TRUE(client->Login(r));

    // "Test" echoes its src, and has none without one.
    JsonMessage m;
    ASSERT_TRUE(client->Send("{\"mt\":\"Test\",\"src\":\"t-1\"}") && client->Receive(m)) << client->ws.error.message();
    EXPECT_EQ(m.Mt(), "TestResult") << m.text;
    EXPECT_EQ(m.String("src"), "t-1") << m.text;
    ASSERT_TRUE(client->Send("{\"mt\":\"Test\"}") && client->Receive(m)) << client->ws.error.message();
    EXPECT_EQ(m.Mt(), "TestResult") << m.text;
    EXPECT_FALSE(m.Has("src")) << m.text;

    // "AppInfo" describes the app it names, or the app of the login.
    auto appInfo = [&](const std::string& request, JsonMessage& answer) {
        ASSERT_TRUE(client->Send(request) && client->Receive(answer)) << request << ": " << client->ws.error.message();
        EXPECT_EQ(answer.Mt(), "AppInfoResult") << answer.text;
        EXPECT_NE(answer.Object("serviceInfo"), json_io::NONE) << answer.text;
        EXPECT_EQ(answer.Members(answer.Object("serviceInfo")), 0u) << answer.text;
        EXPECT_FALSE(answer.Has("deviceapp")) << answer.text;
    };
    appInfo("{\"mt\":\"AppInfo\",\"app\":\"solvantique-messages-api\"}", m);
    EXPECT_EQ(m.String("app"), "solvantique-messages-api") << m.text;
    unsigned short info = m.Object("info");
    ASSERT_NE(info, json_io::NONE) << m.text;
    EXPECT_TRUE(m.True("hidden", info)) << m.text;
    unsigned short apis = m.Object("apis", info);
    ASSERT_NE(apis, json_io::NONE) << m.text;
    EXPECT_EQ(m.Members(apis), 2u) << m.text;
    unsigned short discussion = m.Object("com.solvantique.discussion", apis);
    ASSERT_NE(discussion, json_io::NONE) << m.text;
    EXPECT_EQ(m.String("url", m.Object("info", discussion)), "solvantique-discussion.htm") << m.text;
    unsigned short messagesApi = m.Object("com.solvantique.messages", apis);
    ASSERT_NE(messagesApi, json_io::NONE) << m.text;
    EXPECT_EQ(m.Members(messagesApi), 0u) << m.text;
    EXPECT_EQ(m.Members(info), 2u) << m.text;
    for (std::string app : {"solvantique-topic", "solvantique-messages"}) {
        appInfo("{\"mt\":\"AppInfo\",\"app\":\"" + app + "\"}", m);
        EXPECT_EQ(m.String("app"), app) << m.text;
        EXPECT_TRUE(m.True("presence", m.Object("info"))) << m.text;
        EXPECT_EQ(m.Members(m.Object("info")), 1u) << m.text;
    }
    appInfo("{\"mt\":\"AppInfo\",\"app\":\"something-else\"}", m);
    EXPECT_EQ(m.String("app"), "something-else") << m.text;
    EXPECT_NE(m.Object("info"), json_io::NONE) << m.text;
    EXPECT_EQ(m.Members(m.Object("info")), 0u) << m.text;
    for (std::string request : {"{\"mt\":\"AppInfo\"}", "{\"mt\":\"AppInfo\",\"app\":\"\"}"}) {
        appInfo(request, m);
        EXPECT_EQ(m.String("app"), "solvantique-topic") << m.text;
        EXPECT_TRUE(m.True("presence", m.Object("info"))) << m.text;
    }

    // A message in three fragments is one message, handled once.
    std::string fragmented = "{\"mt\":\"Test\",\"src\":\"in three fragments\"}";
    ASSERT_TRUE(client->Send(fragmented, (fragmented.size() + 2) / 3)) << client->ws.error.message();
    ASSERT_TRUE(client->Send("{\"mt\":\"Test\",\"src\":\"next\"}"));
    ASSERT_TRUE(client->Receive(m)) << client->ws.error.message();
    EXPECT_EQ(m.text, "{\"mt\":\"TestResult\",\"src\":\"in three fragments\"}");
    ASSERT_TRUE(client->Receive(m)) << client->ws.error.message();
    EXPECT_EQ(m.String("src"), "next") << m.text;
    // So is a session request.
    std::string readTopics = "{\"mt\":\"ReadTopics\",\"src\":\"split request\"}";
    ASSERT_TRUE(client->Send(readTopics, (readTopics.size() + 2) / 3)) << client->ws.error.message();
    std::vector<JsonMessage> got;
    ASSERT_TRUE(client->Collect("ReadTopicsResult", got)) << client->ws.error.message() << Texts(got);
    ASSERT_EQ(got.size(), 2u) << Texts(got);
    EXPECT_EQ(got[0].String("sip"), "alice") << Texts(got);
    EXPECT_EQ(got[1].String("src"), "split request") << Texts(got);

    // Unknown messages get no answer, and the next one is handled; so is "KeepAlive".
    for (std::string ignored : {"{\"mt\":\"NoSuchRequest\",\"src\":\"x\"}", "{\"mt\":\"KeepAlive\"}",
                                "{\"mt\":\"WriteTopic\",\"src\":\"x\",\"sip\":\"t\",\"dn\":\"T\"}",
                                "{\"mt\":\"ReadTopicAccess\",\"src\":\"x\",\"topic\":\"alice\"}",
                                "{\"mt\":\"RegisterResult\"}"}) {
        SCOPED_TRACE(ignored);
        ASSERT_TRUE(client->Send(ignored));
        ASSERT_TRUE(client->Send("{\"mt\":\"Test\",\"src\":\"after\"}"));
        ASSERT_TRUE(client->Receive(m)) << client->ws.error.message();
        EXPECT_EQ(m.Mt(), "TestResult") << m.text;
        EXPECT_EQ(m.String("src"), "after") << m.text;
    }
    std::string late;
    EXPECT_TRUE(client->Silent(1000, &late)) << late;
    // Nothing of that was written.
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip = 't'"), "0");
}

TEST_F(e2e_sessions, user_sessions_are_announced_and_closed_and_an_administrator_resets_the_database)
{
    // The app object with the administration right.
    LoginRequest a = User("svc", "Service");
    a.appobj = "svc~admin";
    a.appdn = "Service";
    auto admin = Client();
    ASSERT_TRUE(admin->ConnectAndLogin(a));
    ExpectTopics(*admin, "a", {{"svc", "Service"}});

    // "Session" with "dn" records the user's object; without, it only answers.
    JsonMessage m;
    ASSERT_TRUE(admin->Send("{\"mt\":\"Session\",\"src\":\"s1\",\"session\":7,\"user\":\"frank\",\"dn\":\"Frank\"}") &&
                admin->Receive(m))
        << admin->ws.error.message();
    EXPECT_EQ(m.Mt(), "SessionResult") << m.text;
    EXPECT_EQ(m.String("src"), "s1") << m.text;
    bool present = false;
    EXPECT_EQ(m.Number("session", 0, &present), 7u) << m.text;
    EXPECT_TRUE(present) << m.text;
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = 'frank'"), "Frank");
    ASSERT_TRUE(admin->Send("{\"mt\":\"Session\",\"src\":\"s2\",\"session\":8,\"user\":\"gina\"}") && admin->Receive(m))
        << admin->ws.error.message();
    EXPECT_EQ(m.Mt(), "SessionResult") << m.text;
    EXPECT_EQ(m.String("src"), "s2") << m.text;
    EXPECT_EQ(m.Number("session", 0, &present), 8u) << m.text;
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip = 'gina'"), "0");
    // The same number again replaces the user session, and is answered the same way.
    ASSERT_TRUE(
        admin->Send("{\"mt\":\"Session\",\"src\":\"s3\",\"session\":7,\"user\":\"frank\",\"dn\":\"Frank F.\"}") &&
        admin->Receive(m))
        << admin->ws.error.message();
    EXPECT_EQ(m.Mt(), "SessionResult") << m.text;
    EXPECT_EQ(m.Number("session", 0, &present), 7u) << m.text;
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = 'frank'"), "Frank F.");
    // "SessionClose" is not answered, known number or not; the next message is.
    for (std::string close : {"{\"mt\":\"SessionClose\",\"src\":\"c1\",\"session\":7,\"user\":\"frank\"}",
                              "{\"mt\":\"SessionClose\",\"src\":\"c2\",\"session\":99,\"user\":\"nobody\"}"}) {
        SCOPED_TRACE(close);
        ASSERT_TRUE(admin->Send(close));
        ASSERT_TRUE(admin->Send("{\"mt\":\"Test\",\"src\":\"after close\"}"));
        ASSERT_TRUE(admin->Receive(m)) << admin->ws.error.message();
        EXPECT_EQ(m.Mt(), "TestResult") << m.text;
        EXPECT_EQ(m.String("src"), "after close") << m.text;
    }

    // A user without the right cannot reset: its "DatabaseReset" is unknown.
    auto user = Client();
    ASSERT_TRUE(user->ConnectAndLogin(User("henry", "Henry")));
    std::string objects = Value("SELECT count(*) FROM objects");
    ASSERT_NE(objects, "0");
    ASSERT_TRUE(user->Send("{\"mt\":\"DatabaseReset\",\"src\":\"not allowed\"}"));
    ASSERT_TRUE(user->Send("{\"mt\":\"Test\",\"src\":\"first\"}"));
    ASSERT_TRUE(user->Receive(m)) << user->ws.error.message();
    EXPECT_EQ(m.Mt(), "TestResult") << m.text;
    EXPECT_EQ(m.String("src"), "first") << m.text;
    EXPECT_EQ(Value("SELECT count(*) FROM objects"), objects);

    // The administrator's reset drops and recreates every table; the answer
    // carries the src and comes when the tables are back, empty.
    ASSERT_TRUE(admin->Send("{\"mt\":\"DatabaseReset\",\"src\":\"reset-1\"}"));
    ASSERT_TRUE(admin->Receive(m, 30000)) << admin->ws.error.message();
    EXPECT_EQ(m.Mt(), "DatabaseResetResult") << m.text;
    EXPECT_EQ(m.String("src"), "reset-1") << m.text;
    EXPECT_EQ(Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public' AND tablename IN ('objects', "
                    "'topic_access', 'tags', 'discussions', 'messages', 'message_notifications', 'message_tags', "
                    "'message_read', 'message_likes', 'filters', 'members', 'files_buffer', 'files_buffer_data')"),
              "13");
    for (std::string table : {"objects", "topic_access", "discussions", "messages", "members"})
        EXPECT_EQ(Value("SELECT count(*) FROM " + table), "0") << table;
    // Without "src" the answer has none.
    ASSERT_TRUE(admin->Send("{\"mt\":\"DatabaseReset\"}"));
    ASSERT_TRUE(admin->Receive(m, 30000)) << admin->ws.error.message();
    EXPECT_EQ(m.Mt(), "DatabaseResetResult") << m.text;
    EXPECT_FALSE(m.Has("src")) << m.text;

    // Both sessions go on, and a new login fills the new tables.
    ASSERT_TRUE(admin->Send("{\"mt\":\"Test\",\"src\":\"still here\"}") && admin->Receive(m))
        << admin->ws.error.message();
    EXPECT_EQ(m.String("src"), "still here") << m.text;
    ASSERT_TRUE(user->Send("{\"mt\":\"Test\",\"src\":\"me too\"}") && user->Receive(m)) << user->ws.error.message();
    EXPECT_EQ(m.String("src"), "me too") << m.text;
    auto ivy = Client();
    ASSERT_TRUE(ivy->ConnectAndLogin(User("ivy", "Ivy")));
    ExpectTopics(*ivy, "i", {{"ivy", "Ivy"}});
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = 'ivy'"), "Ivy");
}

TEST_F(e2e_sessions, clients_that_leave_in_the_middle_of_a_request_leave_the_service_serving_and_stopping_cleanly)
{
    // One closes the websocket right after a request that writes.
    auto closing = Client();
    ASSERT_TRUE(closing->ConnectAndLogin(User("kim", "Kim")));
    ASSERT_TRUE(closing->Send("{\"mt\":\"Session\",\"src\":\"s\",\"session\":1,\"user\":\"lee\",\"dn\":\"Lee\"}"));
    closing->ws.Close(5000);

    // One drops its connection right after a request.
    auto dropping = Client();
    ASSERT_TRUE(dropping->ConnectAndLogin(User("max", "Max")));
    ASSERT_TRUE(dropping->Send("{\"mt\":\"Session\",\"src\":\"s\",\"session\":2,\"user\":\"ned\",\"dn\":\"Ned\"}"));
    ASSERT_TRUE(dropping->Send("{\"mt\":\"ReadTopics\",\"src\":\"r\"}"));
    dropping->Drop();

    // One drops while its user is being set up, with a request queued behind the login.
    auto early = Client();
    ASSERT_TRUE(early->Connect()) << early->ws.error.message();
    ASSERT_FALSE(early->Challenge().empty());
    LoginRequest r = User("oli", "Oli");
    r.apps = {{std::string("board"), std::string("Board")}};
    ASSERT_TRUE(early->Send(early->LoginText(r, early->challenge)));
    ASSERT_TRUE(early->Send("{\"mt\":\"ReadTopics\",\"src\":\"r\"}"));
    early->Drop();

    // One goes away between challenge and login.
    auto unfinished = Client();
    ASSERT_TRUE(unfinished->Connect()) << unfinished->ws.error.message();
    ASSERT_FALSE(unfinished->Challenge().empty());
    unfinished->Drop();

    // The service keeps serving the next client in full.
    auto next = Client();
    ASSERT_TRUE(next->ConnectAndLogin(User("pat", "Pat")));
    ExpectTopics(*next, "p", {{"pat", "Pat"}});
    JsonMessage m;
    ASSERT_TRUE(next->Send("{\"mt\":\"Session\",\"src\":\"s\",\"session\":3,\"user\":\"quinn\",\"dn\":\"Quinn\"}") &&
                next->Receive(m))
        << next->ws.error.message();
    EXPECT_EQ(m.Mt(), "SessionResult") << m.text;
    // The requests of the clients that left were still carried out.
    for (std::string sip : {"lee", "ned"}) {
        std::string found;
        for (int i = 0; i < 100 && (found = Value("SELECT count(*) FROM objects WHERE sip = " + Sql(sip))) != "1"; i++)
            usleep(50000);
        EXPECT_EQ(found, "1") << sip;
    }
    EXPECT_TRUE(next->ws.Close()) << next->ws.error.message();
    EXPECT_TRUE(service.process.Running()) << service.process.Output();
    // TearDown: SIGTERM ends the service with 0, which under AddressSanitizer
    // also says that the sessions of the clients that left were freed.
}
