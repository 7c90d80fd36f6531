// App websocket sessions as a client sees them: through platform-webserver
// into the real messages on the test PostgreSQL. The app login with its
// digest, the topics a session starts with (apps, personal topic, app object,
// sub-topics granted by topic_access rows), the built-in messages, user
// sessions of an app object, the database reset of an administrator, and
// clients that leave in the middle of a request.
#include "tests/e2e/messaging_site.h"

#include <regex>

#include "runtime/build_info.h"

using namespace e2e;

namespace {

// What "ReadTopics" lists for one topic.
struct Topic {
    std::string sip;
    std::optional<std::string> dn;
    bool admin = false;
};

class e2e_sessions : public MessagingTest {
protected:
    // A client of this test's `sip`, not connected yet.
    std::unique_ptr<Person> Client(const std::string& sip)
    {
        return std::make_unique<Person>(site->web.port, MessagingSite::password, MessagingSite::domain, N(sip));
    }
    LoginRequest User(const std::string& sip) const { return UserLogin(N(sip), "Dn of " + N(sip)); }
    std::string ObjectId(const std::string& sip) { return Value("SELECT id FROM objects WHERE sip = " + SqlText(sip)); }

    // "ReadTopics" lists `expected` in that order: one "Topic" each with the
    // request's src, the topic's row id, its title and "admin" only where expected.
    void ExpectTopics(Person& client, const std::vector<Topic>& expected)
    {
        std::vector<JsonMessage> got = client.Ask("{\"mt\":\"ReadTopics\",\"src\":\"topics\"}", "ReadTopicsResult");
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back().String("src"), "topics") << got.back().text;
        std::vector<std::string> names, wanted;
        for (size_t i = 0; i + 1 < got.size(); i++) names.push_back(got[i].String("sip"));
        for (auto& t : expected) wanted.push_back(t.sip);
        ASSERT_EQ(names, wanted) << Texts(got);
        for (size_t i = 0; i < expected.size(); i++) {
            const JsonMessage& m = got[i];
            EXPECT_EQ(m.Mt() + " " + m.String("src"), "Topic topics") << m.text;
            EXPECT_EQ(m.IsString("dn") ? m.String("dn") : "<none>", expected[i].dn.value_or("<none>")) << m.text;
            EXPECT_EQ(std::to_string(m.Number("id")), ObjectId(expected[i].sip)) << m.text;
            EXPECT_EQ(m.Has("admin"), expected[i].admin) << m.text;
            EXPECT_TRUE(!m.Has("admin") || m.True("admin")) << m.text;
        }
    }
};

}  // namespace

TEST_F(e2e_sessions, a_login_takes_one_good_digest_per_challenge_and_anything_else_before_it_closes_the_socket)
{
    // "KeepAlive" before the login is answered by nothing, and the socket stays.
    auto alice = Client("alice");
    ASSERT_TRUE(alice->Connect()) << alice->ws.error.message();
    ASSERT_TRUE(alice->Send("{\"mt\":\"KeepAlive\"}"));
    std::string first = alice->Challenge();
    EXPECT_TRUE(std::regex_match(first, std::regex("[0-9a-f]{16}"))) << alice->lastChallengeResult.text;
    EXPECT_FALSE(alice->lastChallengeResult.Has("sysClient")) << alice->lastChallengeResult.text;
    // Every challenge is new and the last one counts; the info object is
    // hashed as its compact text, whatever blanks it is sent with.
    EXPECT_NE(alice->Challenge(), first);
    LoginRequest r = User("alice");
    r.extraInfo = "\"t\":\"x y\",\"n\":12,\"o\":{\"k\":true,\"e\":{}},\"a\":[1,\"two\",[]]";
    r.sentInfo = "{ \"t\" : \"x y\" ,\n  \"n\": 12, \"o\": { \"k\": true, \"e\": { } }, \"a\": [ 1, \"two\", [ ] ] }";
    JsonMessage result;
    ASSERT_TRUE(alice->SendLogin(r, result)) << alice->ws.error.message();
    EXPECT_EQ(result.Mt() + " " + result.String("app") + " " + result.String("domain"),
              "AppLoginResult solvantique-messages " + std::string(MessagingSite::domain));
    EXPECT_TRUE(result.True("ok")) << result.text;
    EXPECT_TRUE(alice->Pushed().empty());
    // The same challenge a second time: refused, and the socket closed.
    ASSERT_TRUE(alice->SendLogin(r, result)) << alice->ws.error.message();
    EXPECT_EQ(result.Mt(), "AppLoginResult") << result.text;
    EXPECT_FALSE(result.Has("ok")) << result.text;
    std::string extra;
    EXPECT_TRUE(alice->ClosedByService(&extra)) << alice->ws.error.message() << " " << extra;

    // Logins that fail get their result without "ok", then the socket is
    // closed. The claims of "info" (here an administrator's app object) are
    // part of what the digest covers.
    LoginRequest wrongPassword = User("bob"), uncovered = User("bob");
    wrongPassword.password = "not-the-password";
    uncovered.appobj = N("svc~admin");
    uncovered.leaveInfoOutOfDigest = true;
    struct Failing {
        LoginRequest request;
        bool challenge;
    };
    for (auto& f : std::vector<Failing>{{wrongPassword, true}, {User("bob"), false}, {uncovered, true}}) {
        auto client = Client("bob");
        ASSERT_TRUE(client->Connect()) << client->ws.error.message();
        if (f.challenge) {
            ASSERT_FALSE(client->Challenge().empty());
        }
        ASSERT_TRUE(client->Send(client->LoginText(f.request, f.challenge ? client->challenge : "0123456789abcdef")));
        ASSERT_TRUE(client->Receive(result)) << client->ws.error.message();
        EXPECT_EQ(result.Mt(), "AppLoginResult") << result.text;
        EXPECT_FALSE(result.Has("ok")) << result.text;
        EXPECT_TRUE(client->ClosedByService(&extra)) << client->ws.error.message() << " " << extra;
    }

    // Anything but the handshake, "KeepAlive" and "CheckBuild" before the
    // login closes the socket unanswered; so does text that is no message.
    const std::vector<std::string> early = {"{\"mt\":\"Test\",\"src\":\"early\"}", "{\"mt\":\"ReadTopics\"}",
                                            "{\"mt\":\"Session\",\"session\":1,\"user\":\"x\",\"dn\":\"X\"}",
                                            "{\"src\":\"no mt\"}", "not json at all", "{\"mt\":1}",
                                            "[\"mt\"]", "{\"mt\":\"KeepAlive\"} x", "{}", ""};
    for (size_t i = 0; i < early.size(); i++) {
        SCOPED_TRACE(early[i]);
        auto client = Client("bob");
        ASSERT_TRUE(client->Connect()) << client->ws.error.message();
        if (i % 2) {
            ASSERT_FALSE(client->Challenge().empty());
        }
        ASSERT_TRUE(client->Send(early[i]));
        EXPECT_TRUE(client->ClosedByService(&extra)) << client->ws.error.message() << " " << extra;
    }
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip IN (" + SqlText(N("bob")) + ", 'x')"), "0");
}

TEST_F(e2e_sessions, a_session_starts_with_its_apps_its_personal_topic_its_app_object_and_the_sub_topics_granted_to_it)
{
    std::string team = N("team"), carol = N("carol") + "@other.example";
    // Sub-topics and their access rows exist before anyone logs in.
    site->Exec("INSERT INTO objects (sip, dn) VALUES (" + SqlText(team + "?alpha") + ", 'Alpha'), (" +
               SqlText(team + "?Beta") + ", 'Beta'), (" + SqlText(team + "?crew") + ", 'Crew'), (" +
               SqlText(team + "?guest") + ", 'Guest'), (" + SqlText(team + "?secret") + ", 'Secret'), (" +
               SqlText(team + "?ops") + ", 'Ops'), (" + SqlText(team + "?named") + ", 'Named'), (" +
               SqlText(N("alice?notes")) + ", 'Notes'), (" + SqlText(N("other?open")) + ", 'Open')");
    auto grant = [&](const std::string& topic, bool grp, const std::string& sip, bool admin) {
        site->Exec("INSERT INTO topic_access (topic, grp, sip, admin) SELECT id, " + std::string(grp ? "true" : "false") +
                   ", " + SqlText(sip) + ", " + (admin ? "true" : "false") + " FROM objects WHERE sip = " + SqlText(topic));
    };
    grant(team + "?alpha", false, N("alice"), true);  // the user itself, as administrator
    grant(team + "?Beta", true, N("devs"), false);    // a group the user belongs to
    grant(team + "?crew", false, "", false);          // everyone
    grant(team + "?crew", false, N("alice"), true);   // and the user as administrator on top
    grant(team + "?guest", false, carol, false);      // a user of another domain
    grant(team + "?secret", false, N("bob"), true);   // another user
    grant(team + "?ops", true, N("ops"), false);      // a group the user is not in
    grant(team + "?named", false, N("devs"), false);  // the group's name, but not as a group
    grant(N("alice?notes"), false, N("alice"), false);  // below the personal topic
    grant(N("other?open"), false, "", false);         // below a topic the user does not have

    LoginRequest r = UserLogin(N("alice"), "Alice Example",
                               {{team + "@" + MessagingSite::domain + "~x", std::string("Team")},
                                {N("news@other.example"), std::string("News")},
                                {N("plain~suffix"), std::string("Plain")},
                                {std::nullopt, std::string("No name")},
                                {N("Team"), std::string("Another title")}});
    r.groups = {N("devs"), N("qa")};
    r.appobj = N("svc~adminx");
    r.appdn = "Service";
    auto alice = Client("alice");
    ASSERT_TRUE(alice->ConnectAndLogin(r));
    // By name without regard to case; the first title of a name stays.
    ExpectTopics(*alice, {{N("alice"), "Alice Example"},
                          {N("alice?notes"), "Notes"},
                          {N("news@other.example"), "News"},
                          {N("plain"), "Plain"},
                          {N("svc"), "Service"},
                          {team, "Team"},
                          {team + "?alpha", "Alpha", true},
                          {team + "?Beta", "Beta"},
                          {team + "?crew", "Crew", true}});
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip LIKE " + SqlText(N("%@" + std::string(MessagingSite::domain))) +
                    " OR sip LIKE " + SqlText(N("%~%"))),
              "0");

    // "x~adminx" is no administrator: "DatabaseReset" is an unknown message.
    std::string objects = Value("SELECT count(*) FROM objects");
    ASSERT_TRUE(alice->Send("{\"mt\":\"DatabaseReset\",\"src\":\"reset\"}"));
    EXPECT_TRUE(alice->Pushed().empty());
    std::string late;
    EXPECT_TRUE(alice->Silent(1000, &late)) << late;
    EXPECT_EQ(Value("SELECT count(*) FROM objects"), objects);

    // A user of another domain without groups is known by name@domain, and
    // has only what is granted to everyone and to that name.
    auto other = Client("carol");
    LoginRequest c = UserLogin(N("carol"), "Carol", {{team + "@" + MessagingSite::domain, std::string("Team")}});
    c.domain = "other.example";
    JsonMessage result;
    ASSERT_TRUE(other->Connect());
    ASSERT_TRUE(other->Login(c, &result));
    EXPECT_EQ(result.String("domain"), MessagingSite::domain) << result.text;
    ExpectTopics(*other, {{carol, "Carol"}, {team, "Team"}, {team + "?crew", "Crew"}, {team + "?guest", "Guest"}});
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip = " + SqlText(N("carol"))), "0");

    // Without info: the personal topic alone.
    auto dave = Client("dave");
    ASSERT_TRUE(dave->ConnectAndLogin(User("dave")));
    ExpectTopics(*dave, {{N("dave"), "Dn of " + N("dave")}});

    // Another domain's app name stays whole even with a suffix; the group
    // list given as empty grants no group row.
    auto erin = Client("erin");
    LoginRequest e = UserLogin(N("erin"), "Erin", {{team + "@other.example~x", std::string("Theirs")}, {team + "~y", std::nullopt}});
    e.groupsGiven = true;
    ASSERT_TRUE(erin->ConnectAndLogin(e));
    ExpectTopics(*erin, {{N("erin"), "Erin"}, {team, std::nullopt}, {team + "?crew", "Crew"},
                         {team + "@other.example", "Theirs"}});
}

TEST_F(e2e_sessions, built_in_messages_are_answered_and_a_message_in_three_fragments_is_handled_once)
{
    auto client = Client("alice");
    ASSERT_TRUE(client->Connect()) << client->ws.error.message();
    std::string build = messagesBuild;

    // "CheckBuild" is answered before the login: a page under another
    // build's directory is pointed at the current one.
    struct {
        std::string request;
        std::optional<std::string> url;
    } checks[] = {
        {"{\"mt\":\"CheckBuild\",\"url\":\"/messages/9" + build + "/p.htm?t=/c/d\"}",
         "/messages/" + build + "/p.htm?t=/c/d"},
        {"{\"mt\":\"CheckBuild\",\"url\":\"/a/b/" + build + "/x.htm\"}", std::nullopt},
        {"{\"mt\":\"CheckBuild\"}", std::nullopt},
    };
    for (auto& c : checks) {
        JsonMessage m;
        ASSERT_TRUE(client->Send(c.request) && client->Receive(m)) << client->ws.error.message();
        EXPECT_EQ(m.Mt(), "CheckBuildResult") << m.text;
        EXPECT_EQ(m.IsString("url") ? m.String("url") : "<none>", c.url.value_or("<none>")) << c.request;
    }

    LoginRequest r = User("alice");
    r.app = "solvantique-topic";
    ASSERT_TRUE(client->Login(r));

    // "Test" echoes its src, and has none without one.
    EXPECT_EQ(client->Reply("{\"mt\":\"Test\",\"src\":\"t-1\"}", "TestResult").String("src"), "t-1");
    EXPECT_FALSE(client->Reply("{\"mt\":\"Test\"}", "TestResult").Has("src"));

    // "AppInfo" describes the app it names, or the app of the login.
    auto appInfo = [&](const std::string& app) {
        JsonMessage m = client->Reply(app == "-" ? "{\"mt\":\"AppInfo\"}" : "{\"mt\":\"AppInfo\",\"app\":" + Quote(app) + "}",
                                      "AppInfoResult");
        EXPECT_EQ(m.String("app"), app == "-" || app.empty() ? "solvantique-topic" : app) << m.text;
        EXPECT_NE(m.Object("serviceInfo"), json_io::NONE) << m.text;
        EXPECT_EQ(m.Members(m.Object("serviceInfo")), 0u) << m.text;
        EXPECT_FALSE(m.Has("deviceapp")) << m.text;
        EXPECT_NE(m.Object("info"), json_io::NONE) << m.text;
        return m;
    };
    JsonMessage m = appInfo("solvantique-messages-api");
    unsigned short info = m.Object("info"), apis = m.Object("apis", info);
    EXPECT_TRUE(m.True("hidden", info)) << m.text;
    EXPECT_EQ(m.Members(info), 2u) << m.text;
    EXPECT_EQ(m.Members(apis), 2u) << m.text;
    unsigned short discussion = m.Object("com.solvantique.discussion", apis);
    EXPECT_EQ(m.String("url", m.Object("info", discussion)), "solvantique-discussion.htm") << m.text;
    unsigned short messagesApi = m.Object("com.solvantique.messages", apis);
    ASSERT_NE(messagesApi, json_io::NONE) << m.text;
    EXPECT_EQ(m.Members(messagesApi), 0u) << m.text;
    for (std::string app : {"solvantique-topic", "solvantique-messages", "", "-"}) {
        m = appInfo(app);
        EXPECT_TRUE(m.True("presence", m.Object("info"))) << m.text;
        EXPECT_EQ(m.Members(m.Object("info")), 1u) << m.text;
    }
    m = appInfo("something-else");
    EXPECT_EQ(m.Members(m.Object("info")), 0u) << m.text;

    // A session request in three fragments is one request, handled once.
    std::string readTopics = "{\"mt\":\"ReadTopics\",\"src\":\"split request\"}";
    ASSERT_TRUE(client->Send(readTopics, (readTopics.size() + 2) / 3)) << client->ws.error.message();
    std::vector<JsonMessage> got;
    ASSERT_TRUE(client->Collect("ReadTopicsResult", got)) << client->ws.error.message() << Texts(got);
    ASSERT_EQ(got.size(), 2u) << Texts(got);
    EXPECT_EQ(got[0].String("sip"), N("alice")) << Texts(got);
    EXPECT_EQ(got[1].String("src"), "split request") << Texts(got);

    // Unknown messages and those of administrators get no answer, and the next one is handled.
    for (std::string ignored : std::vector<std::string>{"{\"mt\":\"NoSuchRequest\",\"src\":\"x\"}", "{\"mt\":\"KeepAlive\"}",
                                "{\"mt\":\"WriteTopic\",\"src\":\"x\",\"sip\":" + Quote(N("t")) + ",\"dn\":\"T\"}",
                                "{\"mt\":\"ReadTopicAccess\",\"src\":\"x\",\"topic\":" + Quote(N("alice")) + "}",
                                "{\"mt\":\"RegisterResult\"}"})
        ASSERT_TRUE(client->Send(ignored));
    EXPECT_TRUE(client->Pushed().empty());
    std::string late;
    EXPECT_TRUE(client->Silent(1000, &late)) << late;
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip = " + SqlText(N("t"))), "0");
}

TEST_F(e2e_sessions, user_sessions_are_announced_and_closed_and_an_administrator_resets_the_database)
{
    auto admin = Login("svc", {}, "svc~admin");
    auto session = [&](const std::string& src, unsigned n, const std::string& user, const std::string& dn) {
        Json request = Json().Str("mt", "Session").Str("src", src).Num("session", n).Str("user", N(user));
        if (!dn.empty()) request.Str("dn", dn);
        JsonMessage m = admin->Reply(request, "SessionResult");
        bool present = false;
        unsigned long long number = m.Number("session", 0, &present);
        return m.String("src") + " " + std::to_string(number) + (present ? "" : "?");
    };
    // "Session" with "dn" records the user's object; without, it only
    // answers; the same number again replaces the user session.
    EXPECT_EQ(session("s1", 7, "frank", "Frank"), "s1 7");
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = " + SqlText(N("frank"))), "Frank");
    EXPECT_EQ(session("s2", 8, "gina", ""), "s2 8");
    EXPECT_EQ(Value("SELECT count(*) FROM objects WHERE sip = " + SqlText(N("gina"))), "0");
    EXPECT_EQ(session("s3", 7, "frank", "Frank F."), "s3 7");
    EXPECT_EQ(Value("SELECT dn FROM objects WHERE sip = " + SqlText(N("frank"))), "Frank F.");
    // "SessionClose" is not answered, known number or not.
    ASSERT_TRUE(admin->Send(Json().Str("mt", "SessionClose").Num("session", 7).Str("user", N("frank"))));
    ASSERT_TRUE(admin->Send(Json().Str("mt", "SessionClose").Num("session", 99).Str("user", N("nobody"))));
    EXPECT_TRUE(admin->Pushed().empty());

    // A user without the right cannot reset: its "DatabaseReset" is unknown.
    auto user = Login("henry");
    std::string objects = Value("SELECT count(*) FROM objects");
    ASSERT_NE(objects, "0");
    ASSERT_TRUE(user->Send("{\"mt\":\"DatabaseReset\",\"src\":\"not allowed\"}"));
    EXPECT_TRUE(user->Pushed().empty());
    EXPECT_EQ(Value("SELECT count(*) FROM objects"), objects);

    // The administrator's reset drops and recreates every table; the answer
    // carries the src and comes when the tables are back, empty.
    std::vector<JsonMessage> got = admin->Ask("{\"mt\":\"DatabaseReset\",\"src\":\"reset-1\"}", "DatabaseResetResult", 30000);
    ASSERT_EQ(got.size(), 1u) << Texts(got);
    EXPECT_EQ(got[0].String("src"), "reset-1") << got[0].text;
    EXPECT_EQ(Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public' AND tablename IN ('objects', "
                    "'topic_access', 'tags', 'discussions', 'messages', 'message_notifications', 'message_tags', "
                    "'message_read', 'message_likes', 'filters', 'members', 'files_buffer', 'files_buffer_data')"),
              "13");
    for (std::string table : {"objects", "topic_access", "discussions", "messages", "members"})
        EXPECT_EQ(Value("SELECT count(*) FROM " + table), "0") << table;
    got = admin->Ask("{\"mt\":\"DatabaseReset\"}", "DatabaseResetResult", 30000);
    ASSERT_EQ(got.size(), 1u) << Texts(got);
    EXPECT_FALSE(got[0].Has("src")) << got[0].text;

    // Both sessions go on, and a new login (its info object empty, which is
    // hashed too) fills the new tables.
    EXPECT_TRUE(admin->Pushed().empty());
    EXPECT_TRUE(user->Pushed().empty());
    auto ivy = Client("ivy");
    LoginRequest r = User("ivy");
    r.emptyInfo = true;
    ASSERT_TRUE(ivy->ConnectAndLogin(r));
    ExpectTopics(*ivy, {{N("ivy"), "Dn of " + N("ivy")}});
}

TEST_F(e2e_sessions, clients_that_leave_in_the_middle_of_a_request_leave_the_service_serving_and_stopping_cleanly)
{
    auto writes = [&](const std::string& user) {
        return Json().Str("mt", "Session").Str("src", "s").Num("session", 1).Str("user", N(user)).Str("dn", user).Text();
    };
    // One closes the websocket right after a request that writes.
    auto closing = Login("kim");
    ASSERT_TRUE(closing->Send(writes("lee")));
    closing->ws.Close(5000);

    // One drops its connection right after a request.
    auto dropping = Login("max");
    ASSERT_TRUE(dropping->Send(writes("ned")));
    ASSERT_TRUE(dropping->Send("{\"mt\":\"ReadTopics\",\"src\":\"r\"}"));
    dropping->Drop();

    // One drops while its user is being set up, with a request queued behind the login.
    auto early = Client("oli");
    ASSERT_TRUE(early->Connect()) << early->ws.error.message();
    ASSERT_FALSE(early->Challenge().empty());
    ASSERT_TRUE(early->Send(early->LoginText(UserLogin(N("oli"), "Oli", {{N("board"), std::string("Board")}}),
                                             early->challenge)));
    ASSERT_TRUE(early->Send("{\"mt\":\"ReadTopics\",\"src\":\"r\"}"));
    early->Drop();

    // One goes away between challenge and login.
    auto unfinished = Client("pat");
    ASSERT_TRUE(unfinished->Connect()) << unfinished->ws.error.message();
    ASSERT_FALSE(unfinished->Challenge().empty());
    unfinished->Drop();

    // The service keeps serving the next client in full, and the requests
    // of the clients that left were still carried out.
    auto next = Login("pat");
    ExpectTopics(*next, {{N("pat"), "Dn of " + N("pat")}});
    for (std::string sip : {"lee", "ned"}) {
        std::string found;
        for (int i = 0; i < 100 && (found = Value("SELECT count(*) FROM objects WHERE sip = " + SqlText(N(sip)))) != "1"; i++)
            usleep(50000);
        EXPECT_EQ(found, "1") << sip;
    }
    EXPECT_TRUE(next->ws.Close()) << next->ws.error.message();
    // The suite's stop ends the service with 0, which under AddressSanitizer
    // also says that the sessions of the clients that left were freed.
}
