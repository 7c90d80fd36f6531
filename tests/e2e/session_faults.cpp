// App websocket sessions when the database connection is cut under them.
// The service may answer or stay silent, but it never crashes, serves new
// sessions where it can, and stops with 0 on SIGTERM. (A webserver restart
// under sessions is part of service_start.cpp.)
#include "tests/e2e/app_client.h"

#include <iostream>

using namespace e2e;

namespace {

const std::string domain = "e2e.test";
const std::string password = "e2e-app-secret";
const std::vector<std::string> instanceArgs = {"--app-domain=" + domain, "--app-password=" + password};

// A request's answer up to the message `last`, or what came instead within
// the time, as one line for the test's record.
std::string Outcome(AppClient& client, const std::string& request, const std::string& last, int timeoutMs)
{
    std::vector<JsonMessage> got;
    bool complete = client.Exchange(request, last, got, timeoutMs);
    std::string line = request + " -> ";
    for (auto& m : got) line += m.text + " ";
    if (!complete) line += "<" + client.ws.error.message() + ">";
    return line;
}

}  // namespace

// Two sessions, an administrator's and a user's, lose the database under
// them. The start-up has left a failed statement behind (its probe of a
// table that a fresh database lacks), whose error the loss reports again.
TEST(e2e_session_faults, a_database_lost_under_logged_in_sessions_never_crashes_the_service)
{
    Installation site;
    PgTestCluster& pg = site.db.cluster;
    DatabaseGate gate(pg.Get("PG_HOST"), atoi(pg.Get("PG_PORT").c_str()));
    gate.Open();
    StandIn web(site.socketPath);
    ASSERT_NE(web.port, 0) << web.process.Output();
    Service service(site.socketPath, site.db, gate.Address(), instanceArgs);
    ASSERT_TRUE(web.Registered("/messages", {"http path /messages", "websocket path /messages"}, 0, 60000))
        << web.process.Output() << service.process.Output();

    LoginRequest a = UserLogin("svc", "Service");
    a.appobj = "svc~admin";
    AppClient admin(web.port, password, domain);
    ASSERT_TRUE(admin.ConnectAndLogin(a));
    AppClient user(web.port, password, domain);
    ASSERT_TRUE(user.ConnectAndLogin(UserLogin("alice", "Alice", {{std::string("team"), std::string("Team")}})));
    std::vector<JsonMessage> got;
    ASSERT_TRUE(user.Exchange("{\"mt\":\"ReadTopics\",\"src\":\"before\"}", "ReadTopicsResult", got)) << Texts(got);
    EXPECT_EQ(got.size(), 3u) << Texts(got);
    ASSERT_TRUE(admin.Exchange("{\"mt\":\"Session\",\"src\":\"s\",\"session\":1,\"user\":\"bob\",\"dn\":\"Bob\"}",
                               "SessionResult", got))
        << Texts(got);
    EXPECT_EQ(site.db.Value("SELECT dn FROM objects WHERE sip = 'bob'"), "Bob");

    // The database goes away under both sessions. A request that needs it
    // goes out at once, racing the service's notice of the loss.
    gate.Cut();
    std::vector<std::string> record;
    record.push_back("user: " + Outcome(user, "{\"mt\":\"Session\",\"src\":\"racing\",\"session\":2,\"user\":\"carl\","
                                              "\"dn\":\"Carl\"}",
                                        "SessionResult", 5000));
    // Once that request has ended, its statement has met the lost connection
    // (when it ran into silence instead, the client has given up on the socket).

    // What needs no database is still answered by the admin session, whose last request ended before the cut.
    std::vector<JsonMessage> topics;
    EXPECT_TRUE(admin.Exchange("{\"mt\":\"ReadTopics\",\"src\":\"after\"}", "ReadTopicsResult", topics, 5000))
        << admin.ws.error.message() << "\n" << Texts(topics);
    EXPECT_EQ(topics.size(), 2u) << Texts(topics);
    EXPECT_TRUE(admin.Exchange("{\"mt\":\"Test\",\"src\":\"t1\"}", "TestResult", got, 5000))
        << admin.ws.error.message() << "\n" << Texts(got);
    // What needs it: an answer or silence, but no crash.
    record.push_back("admin: " + Outcome(admin, "{\"mt\":\"DatabaseReset\",\"src\":\"reset\"}", "DatabaseResetResult",
                                         5000));
    record.push_back("admin: " + Outcome(admin, "{\"mt\":\"Test\",\"src\":\"t2\"}", "TestResult", 3000));
    record.push_back("user: " + Outcome(user, "{\"mt\":\"ReadTopics\",\"src\":\"r\"}", "ReadTopicsResult", 3000));
    record.push_back("user: " + Outcome(user, "{\"mt\":\"Session\",\"src\":\"s3\",\"session\":3,\"user\":\"dora\","
                                              "\"dn\":\"Dora\"}",
                                        "SessionResult", 3000));
    record.push_back("user: " + Outcome(user, "{\"mt\":\"Test\",\"src\":\"t3\"}", "TestResult", 3000));
    EXPECT_TRUE(service.process.Running()) << service.process.Output();

    // A new login while the database is gone: the login itself needs none.
    AppClient late(web.port, password, domain);
    ASSERT_TRUE(late.Connect()) << late.ws.error.message();
    EXPECT_TRUE(late.Login(UserLogin("erin", "Erin")));
    record.push_back("new session: " +
                     Outcome(late, "{\"mt\":\"ReadTopics\",\"src\":\"r\"}", "ReadTopicsResult", 5000));
    record.push_back("new session: " + Outcome(late, "{\"mt\":\"Test\",\"src\":\"t4\"}", "TestResult", 3000));

    // Clients leaving now leave nothing behind either.
    user.ws.Close(5000);
    late.Drop();

    std::string all;
    for (auto& line : record) all += "  " + line + "\n";
    std::cout << "after the database was cut:\n" << all;
    EXPECT_TRUE(service.process.Running()) << all << service.process.Output();
    ExpectNoCrashReport(service.process);
    EXPECT_EQ(service.process.Stop(), 0) << all << service.process.Output();
    ExpectNoCrashReport(service.process);
    EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
}
