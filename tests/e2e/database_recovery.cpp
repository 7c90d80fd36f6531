// The service and a PostgreSQL server that goes away: down before the
// service starts, and crashed and started again under a stream of posts.
// The service reconnects on its own, serves again, and loses no post that
// it confirmed.
#include <stdlib.h>

#include <atomic>
#include <iostream>
#include <thread>

#include "tests/e2e/messaging_site.h"

using namespace e2e;

namespace {

const std::string domain = "e2e.test";
const std::string password = "e2e-app-secret";

// A private cluster that commits durably (a crash keeps what it confirmed),
// with platform-webserver and messages on it.
class Outage : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("PG_TEST_DURABLE", "1", 1);
        ASSERT_TRUE(pg.StartPrivate(clusterDir.path)) << pg.Error();
        ASSERT_NE(web.port, 0) << web.process.Output();
    }
    void StartService()
    {
        service = std::make_unique<Service>(socketPath, pg.Address(), pg.Get("PG_DATABASE"), pg.Get("PG_USER"),
                                            pg.Get("PG_PASSWORD"),
                                            std::vector<std::string>{"--app-domain=" + domain, "--app-password=" + password});
    }
    // Websockets are taken once the schema is complete on a connection.
    bool Serving(int timeoutMs) { return web.Registered("/messages", {"websocket path /messages"}, 0, timeoutMs); }
    std::unique_ptr<Person> Login(const std::string& sip)
    {
        auto p = std::make_unique<Person>(web.port, password, domain, sip);
        LoginRequest r;
        r.sip = sip;
        r.dn = sip;
        r.apps = {{std::string("team"), std::string("Team")}};
        p->ConnectAndLogin(r);
        return p;
    }
    std::string Value(const std::string& sql)
    {
        std::string v;
        return pg.Query(pg.Get("PG_DATABASE"), sql, &v) ? v : "<error: " + pg.Error() + ">";
    }
    void TearDown() override
    {
        for (std::string marker : {"ASSERT:", "AddressSanitizer", "runtime error:", "LeakSanitizer"})
            EXPECT_EQ(service ? service->process.Count(marker) : 0u, 0u) << marker;
        if (service) {
            EXPECT_EQ(service->process.Stop(), 0) << service->process.Output();
        }
        EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
    }

    TempDir clusterDir, dir;
    PgTestCluster pg;
    std::string socketPath = dir / "plugins.sock";
    StandIn web{socketPath};
    std::unique_ptr<Service> service;
};

}  // namespace

TEST_F(Outage, a_service_started_without_its_database_serves_once_the_database_is_there)
{
    ASSERT_TRUE(pg.Crash()) << pg.Error();
    StartService();
    // Attempts at once, after 1 s and after 3 s find nobody; the one after 7 s finds the server.
    sleep(4);
    EXPECT_FALSE(Serving(100)) << web.process.Output();
    ASSERT_TRUE(pg.Resume()) << pg.Error();
    ASSERT_TRUE(Serving(30000)) << web.process.Output();
    auto ann = Login("ann");
    JsonMessage posted = ann->Reply(Json().Str("mt", "Post").Str("topic", "team").Str("text", "at last"), "PostResult");
    EXPECT_FALSE(posted.Has("error")) << posted.text;
    EXPECT_EQ(Value("SELECT text FROM messages WHERE id=" + std::to_string(posted.Number("id"))), "at last");
}

TEST_F(Outage, posts_confirmed_around_a_database_crash_are_stored_once_and_posting_goes_on)
{
    StartService();
    ASSERT_TRUE(Serving(60000)) << web.process.Output();
    const int clients = 4;
    std::vector<std::unique_ptr<Person>> people;
    for (int i = 0; i < clients; i++) people.push_back(Login("poster" + std::to_string(i)));

    // Each client posts one message after the other; the texts it got a
    // clean reply for, and those refused, are recorded.
    std::atomic<bool> stop{false}, restarted{false};
    std::vector<std::vector<std::string>> confirmed(clients), refused(clients);
    std::vector<int> confirmedAfter(clients, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; i++) {
        threads.emplace_back([&, i] {
            for (int n = 0; !stop && n < 100000; n++) {
                std::string text = "c" + std::to_string(i) + "-" + std::to_string(n);
                bool after = restarted;
                std::vector<JsonMessage> got;
                std::string request = Json().Str("mt", "Post").Str("src", text).Str("topic", "team").Str("text", text);
                if (!people[i]->Exchange(request, "PostResult", got, 20000)) return;
                if (got.back().Has("error")) {
                    refused[i].push_back(text);
                    usleep(20000);
                }
                else {
                    confirmed[i].push_back(text);
                    if (after) confirmedAfter[i]++;
                }
            }
        });
    }
    sleep(1);
    ASSERT_TRUE(pg.Crash()) << pg.Error();
    sleep(2);
    ASSERT_TRUE(pg.Resume()) << pg.Error();
    restarted = true;
    // Everybody gets posts through again.
    for (int waited = 0; waited < 300; waited++) {
        bool all = true;
        for (int i = 0; i < clients; i++) all = all && confirmedAfter[i] >= 5;
        if (all) break;
        usleep(100000);
    }
    stop = true;
    for (auto& t : threads) t.join();

    size_t total = 0, errors = 0;
    for (int i = 0; i < clients; i++) {
        EXPECT_GE(confirmedAfter[i], 5) << "client " << i << " posts nothing since the database is back";
        total += confirmed[i].size();
        errors += refused[i].size();
        std::string list;
        for (auto& text : confirmed[i]) list += (list.empty() ? "" : ",") + SqlText(text);
        if (list.empty()) continue;
        // Every confirmed post is there, once.
        EXPECT_EQ(Value("SELECT count(*) FROM messages WHERE text IN (" + list + ")"),
                  std::to_string(confirmed[i].size()));
        EXPECT_EQ(Value("SELECT count(*) FROM (SELECT text FROM messages WHERE text IN (" + list +
                        ") GROUP BY text HAVING count(*) > 1) d"),
                  "0");
    }
    std::cout << total << " posts confirmed, " << errors << " refused while the database was away\n";
    EXPECT_GT(errors, 0u) << "the crash went unnoticed";
}
