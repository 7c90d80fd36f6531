// How messages comes up behind platform-webserver and stays reachable: HTTP
// at once, websockets only after its database start-up, and a webserver
// restart survived by reconnecting and registering again, with the sessions
// it cut freed. And what a person running it is told: each program's
// options, and when it is ready and stopped.
#include "tests/e2e/app_client.h"

#include "runtime/build_info.h"

using namespace e2e;
namespace websocket = boost::beast::websocket;

namespace {

const std::string page = "solvantique-messages.htm";

std::string PageUrl(const StandIn& web)
{
    return web.Url("/messages/" + std::string(messagesBuild) + "/" + page);
}

// A websocket that reaches the instance is a session: it answers a challenge.
void ExpectSession(StandIn& web, const std::string& path)
{
    WsClient client;
    ASSERT_TRUE(client.Connect(web.port, path)) << client.error.message() << " status " << client.status;
    EXPECT_EQ(client.status, 101u);
    std::string message;
    ASSERT_TRUE(client.Write(R"({"mt":"AppChallenge"})", true)) << client.error.message();
    ASSERT_TRUE(client.Read(message)) << client.error.message();
    EXPECT_NE(message.find("\"mt\":\"AppChallengeResult\""), std::string::npos) << message;
    EXPECT_TRUE(client.Close()) << client.error.message();
}

}  // namespace

TEST(e2e_service_start, websockets_are_taken_only_after_the_database_start_up_while_http_is_served_before)
{
    Installation site;
    PgTestCluster& pg = site.db.cluster;
    DatabaseGate gate(pg.Get("PG_HOST"), atoi(pg.Get("PG_PORT").c_str()));
    StandIn web(site.socketPath);
    ASSERT_NE(web.port, 0) << web.process.Output();
    Service service(site.socketPath, site.db, gate.Address());

    // The web path is registered at once; the database is still held at the gate.
    ASSERT_TRUE(web.Registered("/messages", {"http path /messages"})) << web.process.Output();
    HttpResponse r = Http(site.dir, {PageUrl(web)});
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, ReadFile(std::string(WEB_CLIENT_DIR) + "/" + page));

    // No websocket is listened for before the start-up chain has run: the
    // webserver itself declines the upgrade.
    WsClient early;
    EXPECT_FALSE(early.Connect(web.port, "/messages"));
    EXPECT_EQ(early.error, websocket::error::upgrade_declined) << early.error.message();
    EXPECT_EQ(early.status, 404u);
    EXPECT_EQ(web.process.Count("register websocket path"), 0u);
    EXPECT_EQ(site.db.Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"), "0");

    size_t mark = web.process.Mark();
    gate.Open();
    ASSERT_TRUE(web.process.WaitFor("plugin /messages: register websocket path /messages: ok", mark, 60000))
        << web.process.Output();
    EXPECT_GE(gate.accepted.load(), 1);
    // The chain has left its schema behind by the time the websocket is listened for.
    EXPECT_EQ(site.db.Value("SELECT count(*) FROM pg_tables WHERE tablename = 'messages'"), "1");

    ExpectSession(web, "/messages");
    ExpectSession(web, "/messages/some/where?x=1");
    // The link is unharmed by sessions coming and going.
    EXPECT_EQ(Http(site.dir, {PageUrl(web)}).status, 200);
    EXPECT_EQ(web.process.Count("plugin /messages closed"), 0u) << web.process.Output();

    EXPECT_EQ(service.process.Stop(), 0) << service.process.Output();
    EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
}

TEST(e2e_service_start, a_restarted_webserver_gets_every_registration_again_and_serves_as_before)
{
    Installation site;
    std::string source = ReadFile(std::string(WEB_CLIENT_DIR) + "/" + page);
    auto first = std::make_unique<StandIn>(site.socketPath);
    ASSERT_NE(first->port, 0) << first->process.Output();
    const std::string domain = "e2e.test", password = "e2e-app-secret";
    Service service(site.socketPath, site.db, "", {"--app-domain=" + domain, "--app-password=" + password});
    ASSERT_TRUE(first->Registered("/messages", {"http path /messages", "websocket path /messages"}, 0, 60000))
        << first->process.Output();
    EXPECT_EQ(Http(site.dir, {PageUrl(*first)}).body, source);

    // Twice, so that a link that has come back once does it again.
    for (int round = 0; round < 2; round++) {
        SCOPED_TRACE("restart " + std::to_string(round + 1));
        std::string n = std::to_string(round);
        // Sessions open when the webserver goes: one idle, one in the middle of a request.
        AppClient idle(first->port, password, domain), busy(first->port, password, domain);
        ASSERT_TRUE(idle.ConnectAndLogin(UserLogin("alice" + n, "Alice")));
        ASSERT_TRUE(busy.ConnectAndLogin(UserLogin("bob" + n, "Bob")));
        ASSERT_TRUE(busy.Send("{\"mt\":\"Session\",\"src\":\"s\",\"session\":1,\"user\":\"carl\",\"dn\":\"Carl\"}"));
        int oldPort = first->port;
        EXPECT_EQ(first->process.Stop(), 0) << first->process.Output();
        first.reset();
        std::string message;
        EXPECT_FALSE(idle.ws.Read(message, nullptr, 10000)) << "a message after the webserver ended: " << message;
        HttpResponse gone = Http(site.dir, {"http://127.0.0.1:" + std::to_string(oldPort) + "/messages/"});
        EXPECT_NE(gone.exit, 0);

        // The new webserver knows nothing of the instance until the link comes back.
        first = std::make_unique<StandIn>(site.socketPath);
        ASSERT_NE(first->port, 0) << first->process.Output();
        ASSERT_TRUE(first->Registered("/messages", {"http path /messages", "websocket path /messages"}, 0, 30000))
            << first->process.Output();
        // One link, each path once.
        EXPECT_EQ(first->process.Count("plugin /messages connected"), 1u);
        EXPECT_EQ(first->process.Count("register http path /messages: ok"), 1u);
        EXPECT_EQ(first->process.Count("register websocket path /messages: ok"), 1u);
        EXPECT_EQ(first->process.Count("already registered"), 0u);

        HttpResponse r = Http(site.dir, {PageUrl(*first)});
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, source);
        EXPECT_EQ(Http(site.dir, {"-H", "If-None-Match: " + r.Field("etag"), PageUrl(*first)}).status, 304);
        EXPECT_EQ(Http(site.dir, {first->Url("/messages/" + page)}).status, 302);
        // A new session logs in, reads and writes.
        AppClient fresh(first->port, password, domain);
        ASSERT_TRUE(fresh.ConnectAndLogin(UserLogin("alice" + n, "Alice")));
        std::vector<JsonMessage> got;
        ASSERT_TRUE(fresh.Exchange("{\"mt\":\"ReadTopics\",\"src\":\"again\"}", "ReadTopicsResult", got)) << Texts(got);
        EXPECT_EQ(got.size(), 2u) << Texts(got);
        ASSERT_TRUE(fresh.Exchange("{\"mt\":\"Session\",\"src\":\"s\",\"session\":2,\"user\":\"dora" + n +
                                       "\",\"dn\":\"Dora\"}",
                                   "SessionResult", got))
            << fresh.ws.error.message() << "\n" << Texts(got);
        EXPECT_EQ(site.db.Value("SELECT dn FROM objects WHERE sip = 'dora" + n + "'"), "Dora");
    }

    // The sessions cut by the restarts are gone without a trace: 0 under AddressSanitizer.
    EXPECT_EQ(service.process.Stop(), 0) << service.process.Output();
    EXPECT_EQ(first->process.Stop(), 0) << first->process.Output();
}

namespace {

// The stand-ins are built next to the webserver; this test target is told only where that is.
std::string StandInBin(const std::string& dir, const std::string& name)
{
    std::string web = PLATFORM_WEBSERVER_BIN;
    return web.substr(0, web.rfind("/webserver/")) + "/" + dir + "/" + name;
}

// `--help` (or `-h`) lists the options and exits 0, starting nothing.
void ExpectHelp(const std::string& bin, const std::string& flag, const std::vector<std::string>& options)
{
    SCOPED_TRACE(bin + " " + flag);
    Process help({bin, flag});
    for (int i = 0; help.Running() && i < 2000; i++) usleep(5000);
    EXPECT_EQ(help.Stop(), 0) << help.Output();
    std::string name = bin.substr(bin.rfind('/') + 1);
    EXPECT_TRUE(help.WaitFor("usage: " + name, 0, 1000)) << help.Output();
    for (auto& o : options) EXPECT_TRUE(help.WaitFor("  " + o, 0, 1000)) << o << "\n" << help.Output();
    EXPECT_EQ(help.Count(": ready"), 0u) << help.Output();
}

}  // namespace

TEST(e2e_service_start, every_program_explains_its_options_and_says_when_it_is_ready_and_when_it_has_stopped)
{
    const std::string manager = StandInBin("manager", "platform-manager"), pbx = StandInBin("pbx", "platform-pbx");
    ExpectHelp(MESSAGES_BIN, "--help",
               {"--manager=", "--service-id=", "--dns=", "--log-flags=", "--log-size=", "--disable-hexdumps",
                "--segfaulted", "--app-name=", "--app-domain=", "--app-password=", "--webserver=", "--webserver-path=",
                "--db-host=", "--db-name=", "--db-user=", "--db-password=", "--working-path=", "-h, --help"});
    ExpectHelp(MESSAGES_BIN, "-h", {"--manager="});
    ExpectHelp(PLATFORM_WEBSERVER_BIN, "--help",
               {"--http=", "--https=", "--cert=", "--key=", "--plugins=", "--app=", "--users=", "--open-login"});
    ExpectHelp(manager, "-h", {"--socket=", "--exec=", "--service-arg=", "--instance="});
    ExpectHelp(pbx, "--help", {"--url=", "--http=", "--path=", "--password=", "--domain=", "--sip=", "--badges=",
                               "--object=", "--chat=", "--member-dn="});

    Installation site;
    StandIn web(site.socketPath);
    ASSERT_NE(web.port, 0) << web.process.Output();
    EXPECT_TRUE(web.process.WaitFor("platform-webserver: ready, plugins connect at " + site.socketPath +
                                    ", listening on http://127.0.0.1:" + std::to_string(web.port)));
    const std::string ready = "messages: ready, instance e2e@example.local takes websockets at /messages through the "
                              "webserver at " + site.socketPath;
    {
        // An option it does not know is passed over, as ever.
        Service service(site.socketPath, site.db, "", {"--no-such-option=1"});
        ASSERT_TRUE(service.process.WaitFor(ready, 0, 60000)) << service.process.Output();
        // The PBX stand-in logs in, reads its input to the end and goes.
        Process phone({"/bin/sh", "-c",
                       "exec " + pbx + " --http=127.0.0.1:" + std::to_string(web.port) +
                           " --domain=example.local --password=kfo --badges=nobody </dev/null"});
        EXPECT_TRUE(phone.WaitFor("platform-pbx: ready, logged in at ws://127.0.0.1:" + std::to_string(web.port) +
                                  "/messages as pbx")) << phone.Output();
        for (int i = 0; phone.Running() && i < 2000; i++) usleep(5000);
        EXPECT_EQ(phone.Stop(), 0) << phone.Output();
        EXPECT_TRUE(phone.WaitFor("platform-pbx: stopped (end of input), exit code 0")) << phone.Output();

        EXPECT_EQ(service.process.Stop(), 0) << service.process.Output();
        EXPECT_TRUE(service.process.WaitFor("messages: stopped (a termination signal), exit code 0"))
            << service.process.Output();
        EXPECT_EQ(service.process.Count("messages: ready"), 1u) << service.process.Output();
    }

    // Under the manager the service's lines come through the manager's output.
    Process run({manager, "--socket=" + site.dir / "manager.sock", std::string("--exec=") + MESSAGES_BIN,
                 "--instance=name=e2e,webserver=" + site.socketPath + ",db-host=" + site.db.Address() +
                     ",db-name=" + site.db.Name() + ",db-user=" + site.db.User() +
                     ",db-password=" + site.db.Password()});
    EXPECT_TRUE(run.WaitFor("platform-manager: ready, listening on " + site.dir / "manager.sock")) << run.Output();
    ASSERT_TRUE(run.WaitFor(ready, 0, 60000)) << run.Output();
    EXPECT_EQ(run.Stop(), 0) << run.Output();
    EXPECT_TRUE(run.WaitFor("messages: stopped (the manager link has closed), exit code 0")) << run.Output();
    EXPECT_TRUE(run.WaitFor("platform-manager: stopped (the service has ended), exit code 0")) << run.Output();

    EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
    EXPECT_TRUE(web.process.WaitFor("platform-webserver: stopped (SIGTERM), exit code 0")) << web.process.Output();
}
