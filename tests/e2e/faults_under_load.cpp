// Faults under a small, steady load of people who post, mark read and like:
// PostgreSQL stopped and started (fast and immediate), platform-webserver and
// messages killed and started again, clients that vanish in the middle of a
// request or an upload, and a client that stops reading its updates. After
// each: every write the service acknowledged is stored once, a new request is
// served soon after, and the service's descriptors and memory are where they
// were before. Each fault prints one "PASS name ..." or "FAIL name ..." line.
// Also, without load, a service started while its database is down.
#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

#include "tests/e2e/messaging_site.h"

using namespace e2e;

namespace {

const std::string domain = "e2e.test";
const std::string password = "e2e-app-secret";
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// What /proc shows of a process. Timers of the loop that are not timerfds
// cannot be seen from outside; the count of timerfds can.
struct Usage {
    int fds = 0, timerfds = 0;
    long rssKb = 0;

    static Usage Of(pid_t pid)
    {
        Usage u;
        std::string dir = "/proc/" + std::to_string(pid) + "/fd";
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                char target[256];
                ssize_t n = e->d_name[0] == '.' ? -1 : readlink((dir + "/" + e->d_name).c_str(), target, sizeof(target) - 1);
                if (n <= 0) continue;
                u.fds++;
                u.timerfds += std::string(target, size_t(n)).find("timerfd") != std::string::npos;
            }
            closedir(d);
        }
        std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
        size_t at = status.find("VmRSS:");
        if (at != std::string::npos) u.rssKb = atol(status.c_str() + at + 6);
        return u;
    }
};

// Three writers in the test run; scripts/bench-faults.sh asks for more.
int Writers()
{
    const char* n = getenv("FAULTS_WRITERS");
    return n && atoi(n) >= 3 ? atoi(n) : 3;
}

// A UUID text of its own for each post: the process, the person, a count.
std::string Guid(int person)
{
    static std::atomic<unsigned> count{0};
    char text[40];
    snprintf(text, sizeof(text), "%08x-%04x-4000-8000-%012x", unsigned(getpid()), unsigned(person), count++);
    return text;
}

LoginRequest TeamLogin(const std::string& sip)
{
    return UserLogin(sip, sip, {{std::string("team"), std::string("Team")}});
}

// A session of `sip` with the topic "team"; null while it cannot be had.
std::unique_ptr<Person> TryLogin(int port, const std::string& sip)
{
    auto p = std::make_unique<Person>(port, password, domain, sip);
    JsonMessage result;
    if (!p->Connect(2000) || p->Challenge().empty() || !p->SendLogin(TeamLogin(sip), result) || !result.True("ok"))
        return nullptr;
    return p;
}

// A private cluster that commits durably (a crash keeps what it confirmed),
// and the stand-in and the service on it, each of which can be killed and
// started again.
class Site {
public:
    explicit Site(bool startService = true)
    {
        setenv("PG_TEST_DURABLE", "1", 1);
        // A small quarantine, so that the service's memory shows what it holds.
        const char* asan = getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":quarantine_size_mb=4").c_str(), 1);
        if (!pg.StartPrivate(clusterDir.path)) ADD_FAILURE() << pg.Error();
        // The service logs to a directory named after its executable: a copy
        // under a name of its own keeps its log apart from other tests'.
        std::filesystem::copy_file(MESSAGES_BIN, bin);
        StartWeb();
        if (startService) StartService();
    }
    void StartWeb()
    {
        web = std::make_unique<StandIn>(socketPath);
        port = web->port;
    }
    void StartService()
    {
        service = std::make_unique<Process>(std::vector<std::string>{
            bin, "--app-name=e2e", "--webserver=" + socketPath, "--webserver-path=/messages", "--db-host=" + pg.Address(),
            "--db-name=" + pg.Get("PG_DATABASE"), "--db-user=" + pg.Get("PG_USER"),
            "--db-password=" + pg.Get("PG_PASSWORD"), "--app-domain=" + domain, "--app-password=" + password},
            true);
    }
    // Waits until the service's log says `text` `times` times.
    bool LogSays(const std::string& text, int timeoutMs, size_t times = 1)
    {
        auto start = Clock::now();
        do {
            if (DIR* d = opendir(logDir.c_str())) {
                size_t found = 0;
                while (dirent* e = readdir(d)) {
                    std::string log = e->d_name[0] == '.' ? "" : ReadFile(logDir + "/" + e->d_name);
                    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) found++;
                }
                closedir(d);
                if (found >= times) return true;
            }
            usleep(100000);
        } while (MsSince(start) < timeoutMs);
        return false;
    }
    bool Serving(size_t from = 0, int timeoutMs = 60000)
    {
        return web->Registered("/messages", {"websocket path /messages"}, from, timeoutMs);
    }
    std::string Value(const std::string& sql)
    {
        std::string v;
        return pg.Query(pg.Get("PG_DATABASE"), sql, &v) ? v : "<error: " + pg.Error() + ">";
    }
    // The time until a new session gets a post stored, in ms; -1 beyond the limit.
    long long RecoveryMs(int limitMs)
    {
        auto start = Clock::now();
        while (MsSince(start) < limitMs) {
            auto p = TryLogin(port, "probe");
            std::vector<JsonMessage> got;
            std::string guid = Guid(999);
            if (p && p->Exchange(Json().Str("mt", "Post").Str("topic", "team").Str("text", "probe").Str("guid", guid),
                                 "PostResult", got, 5000) &&
                !got.back().Has("error")) {
                probes.push_back(guid);
                return MsSince(start);
            }
            usleep(50000);
        }
        return -1;
    }
    // Sanitizer reports and failed assertions of the service, then its
    // clean stop (0 under AddressSanitizer: nothing leaked either).
    void Stop()
    {
        ExpectNoCrashReport(*service);
        EXPECT_EQ(service->Stop(), 0) << service->Output();
        EXPECT_EQ(web->process.Stop(), 0) << web->process.Output();
        EXPECT_FALSE(LogSays("ASSERT", 0)) << "in " << logDir;
        std::filesystem::remove_all(logDir);
    }

    TempDir clusterDir, dir;
    PgTestCluster pg;
    std::string socketPath = dir / "plugins.sock";
    std::string name = "messages-faults-" + std::to_string(getpid()), bin = dir / name, logDir = "/var/log/apps/" + name;
    std::unique_ptr<StandIn> web;
    std::unique_ptr<Process> service;
    std::atomic<int> port{0};
    // Odd while a fault is on: a like answered then may be lost (its reply carries no error).
    std::atomic<unsigned> trouble{0};
    std::vector<std::string> probes;
};

// People posting, marking the last post of the next one read and liking that
// of the one after, without pause, each on a connection of its own that is
// opened again whenever it breaks; what the service acknowledged is recorded.
class Load {
public:
    struct Writer {
        std::string sip;
        std::vector<std::string> posts;
        std::vector<unsigned long long> reads, likes, likesInTrouble;
        unsigned refused = 0;
        std::atomic<unsigned> acked{0};
        std::atomic<unsigned long long> lastPost{0};
        unsigned long long lastRead = 0, lastLiked = 0;
    };

    Load(Site& site, int people, size_t textSize = 40) : site(site), writers(people), textSize(textSize)
    {
        for (int i = 0; i < people; i++) writers[i].sip = "writer" + std::to_string(i);
        for (int i = 0; i < people; i++) threads.emplace_back([this, i] { Run(i); });
    }
    ~Load() { Stop(); }
    void Stop()
    {
        stop = true;
        for (auto& t : threads) t.join();
        threads.clear();
    }
    // Every writer has had `n` more posts acknowledged than at `marks`.
    bool Progress(const std::vector<unsigned>& marks, unsigned n, int timeoutMs = 30000)
    {
        auto start = Clock::now();
        for (;;) {
            bool all = true;
            for (size_t i = 0; i < writers.size(); i++) all = all && writers[i].acked >= marks[i] + n;
            if (all) return true;
            if (MsSince(start) > timeoutMs) return false;
            usleep(20000);
        }
    }
    std::vector<unsigned> Marks() const
    {
        std::vector<unsigned> m;
        for (auto& w : writers) m.push_back(w.acked);
        return m;
    }
    // The time each post was acknowledged, by id.
    std::map<unsigned long long, Clock::time_point> AckTimes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return ackTimes;
    }

    // What is missing or doubled, "" when nothing; after Stop().
    std::string Check(std::string& counts)
    {
        std::string problems;
        size_t posts = 0, reads = 0, likes = 0, troubled = 0, troubledStored = 0;
        std::vector<std::string> guids = site.probes;
        for (auto& w : writers) guids.insert(guids.end(), w.posts.begin(), w.posts.end());
        std::string list;
        for (auto& g : guids) list += (list.empty() ? "" : ",") + SqlText(g);
        posts = guids.size();
        if (!list.empty()) {
            std::string stored = site.Value("SELECT count(DISTINCT guid) FROM messages WHERE guid IN (" + list + ")");
            if (stored != std::to_string(posts)) problems += " posts acknowledged " + std::to_string(posts) + " stored " + stored;
        }
        std::string doubled = site.Value("SELECT count(*) FROM (SELECT guid FROM messages WHERE guid IS NOT NULL "
                                         "GROUP BY guid HAVING count(*) > 1) d");
        if (doubled != "0") problems += " posts stored twice " + doubled;
        for (auto& w : writers) {
            std::string who = "(SELECT id FROM objects WHERE sip=" + SqlText(w.sip) + ")";
            reads += w.reads.size();
            likes += w.likes.size();
            troubled += w.likesInTrouble.size();
            auto stored = [&](const char* table, const std::vector<unsigned long long>& ids) {
                std::string in;
                for (auto id : ids) in += (in.empty() ? "" : ",") + std::to_string(id);
                if (in.empty()) return size_t(0);
                return size_t(atol(site.Value("SELECT count(DISTINCT message) FROM " + std::string(table) +
                                              " WHERE object=" + who + " AND message IN (" + in + ")")
                                       .c_str()));
            };
            size_t r = stored("message_read", w.reads), l = stored("message_likes", w.likes);
            troubledStored += stored("message_likes", w.likesInTrouble);
            if (r != w.reads.size()) problems += " " + w.sip + " read marks " + std::to_string(w.reads.size()) + " stored " + std::to_string(r);
            if (l != w.likes.size()) problems += " " + w.sip + " likes " + std::to_string(w.likes.size()) + " stored " + std::to_string(l);
        }
        counts = std::to_string(posts) + " posts, " + std::to_string(reads) + " read marks, " + std::to_string(likes) +
                 " likes acknowledged";
        if (troubled)
            counts += " (and " + std::to_string(troubled) + " likes answered during the fault, " +
                      std::to_string(troubledStored) + " stored)";
        return problems;
    }

private:
    bool Ask(Person& p, const std::string& request, const std::string& resultMt, JsonMessage& result)
    {
        std::vector<JsonMessage> got;
        if (!p.Exchange(request, resultMt, got, 15000)) return false;
        result = std::move(got.back());
        return true;
    }
    bool Step(Person& p, int i, unsigned n)
    {
        Writer& w = writers[i];
        JsonMessage r;
        if (n % 3 == 0) {
            std::string guid = Guid(i), text = w.sip + " " + std::to_string(n) + " ";
            text.resize(std::max(text.size(), textSize), 'x');
            if (!Ask(p, Json().Str("mt", "Post").Str("topic", "team").Str("text", text).Str("guid", guid), "PostResult", r))
                return false;
            if (r.Has("error")) {
                w.refused++;
                usleep(20000);
                return true;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ackTimes[r.Number("id")] = Clock::now();
            }
            w.posts.push_back(guid);
            w.lastPost = r.Number("id");
            w.acked++;
            return true;
        }
        Writer& other = writers[(i + n % 3) % writers.size()];
        unsigned long long id = other.lastPost;
        if (n % 3 == 1) {
            if (!id || id == w.lastRead) return true;
            if (!Ask(p, Json().Str("mt", "SetRead").Num("id", id), "SetReadResult", r)) return false;
            w.lastRead = id;
            if (r.Number("id") == id) w.reads.push_back(id);
            return true;
        }
        if (!id || id == w.lastLiked) return true;
        unsigned before = site.trouble;
        if (!Ask(p, Json().Str("mt", "Like").Num("id", id).Str("topic", "team").Str("author", other.sip).Str("text", "x"),
                 "LikeResult", r))
            return false;
        w.lastLiked = id;
        (before % 2 == 0 && before == site.trouble ? w.likes : w.likesInTrouble).push_back(id);
        return true;
    }
    void Run(int i)
    {
        std::unique_ptr<Person> p;
        for (unsigned n = 0; !stop; n++) {
            if (!p && !(p = TryLogin(site.port, writers[i].sip))) {
                usleep(100000);
                continue;
            }
            if (!Step(*p, i, n)) p.reset();
        }
    }

    Site& site;
    std::vector<Writer> writers;
    size_t textSize;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::map<unsigned long long, Clock::time_point> ackTimes;
};

class e2e_faults_under_load : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(site.Serving()) << site.web->process.Output() << site.service->Output(); }
    void TearDown() override { site.Stop(); }

    // Warms the load up, takes the service's usage, runs `fault` (which
    // returns when its cause has ended), waits for a new request to be
    // served and for every writer to get on, takes the usage again and
    // checks what was acknowledged. `extra` adds checks of its own.
    void Run(const std::string& name, Load& load, const std::function<void()>& fault,
             const std::function<std::string()>& extra = nullptr)
    {
        ASSERT_TRUE(load.Progress(load.Marks(), 5)) << site.service->Output();
        sleep(1);
        Usage before = Usage::Of(site.service->pid);
        site.trouble++;
        fault();
        long long recovery = site.RecoveryMs(30000);
        site.trouble++;
        bool progressed = load.Progress(load.Marks(), 5);
        sleep(1);
        Usage after = Usage::Of(site.service->pid);
        load.Stop();
        std::string counts, problems = load.Check(counts);
        if (extra) problems += extra();
        // The goal is 5 s; the test run only asks for recovery at all, a busy machine may take longer.
        const char* goal = getenv("FAULTS_RECOVERY_GOAL_MS");
        if (recovery < 0) problems += " no new request served within 30 s";
        else if (goal && recovery > atol(goal)) problems += " no new request served within " + std::string(goal) + " ms";
        if (!progressed) problems += " a writer got nothing through after the fault";
        // The service holds no descriptor per client; its memory may settle a little higher.
        if (after.fds > before.fds || after.timerfds > before.timerfds) problems += " descriptors grew";
        if (after.rssKb > before.rssKb + before.rssKb / 4 + 16384) problems += " memory grew";
        char usage[200];
        snprintf(usage, sizeof(usage), "recovery %lld ms, fds %d->%d, timerfds %d->%d, rss %ld->%ld kB", recovery,
                 before.fds, after.fds, before.timerfds, after.timerfds, before.rssKb, after.rssKb);
        std::cout << (problems.empty() ? "PASS " : "FAIL ") << name << ": " << usage << "; " << counts << problems
                  << std::endl;
        EXPECT_EQ(problems, "") << name;
    }

    Site site;
};

}  // namespace

TEST_F(e2e_faults_under_load, postgresql_stopped_fast_and_immediately_and_started_again)
{
    for (bool immediate : {false, true}) {
        Load load(site, Writers());
        Run(immediate ? "postgresql-immediate-restart" : "postgresql-fast-restart", load, [&] {
            ASSERT_TRUE(immediate ? site.pg.Crash() : site.pg.Pause()) << site.pg.Error();
            sleep(1);
            ASSERT_TRUE(site.pg.Resume()) << site.pg.Error();
        }, [&] {
            // The reader connections come back by themselves, and pages and counts are read again.
            std::string count = "SELECT count(*) FROM pg_stat_activity WHERE application_name='messages'";
            for (int i = 0; i < 100 && atol(site.Value(count).c_str()) < 3; i++) usleep(100000);
            if (atol(site.Value(count).c_str()) < 3) return std::string(" the reader connections did not come back");
            auto p = TryLogin(site.port, "reader");
            std::vector<JsonMessage> got;
            for (const char* mt : {"SetFilter", "SetUnreadFilter"}) {
                std::string result = std::string(mt) + "Result";
                if (!p || !p->Exchange(Json().Str("mt", mt).Str("src", "r").Num("count", 40).Raw(
                                           "filter", Json().Strs("topics", {"team"})),
                                       result, got, 5000) ||
                    got.back().Has("error"))
                    return " no " + result + " after the restart";
            }
            return std::string();
        });
    }
}

TEST_F(e2e_faults_under_load, webserver_and_service_killed_and_started_again)
{
    {
        Load load(site, Writers());
        Run("webserver-killed", load, [&] {
            site.web->process.Stop(SIGKILL);
            site.StartWeb();
            ASSERT_NE(site.port, 0) << site.web->process.Output();
        });
    }
    Load load(site, Writers());
    Run("service-killed", load, [&] {
        site.service->Stop(SIGKILL);
        site.StartService();
    });
}

TEST_F(e2e_faults_under_load, clients_vanish_in_the_middle_of_requests_and_uploads)
{
    std::vector<std::string> vanished;
    {
        Load load(site, Writers());
        Run(
            "clients-vanish-mid-request", load,
            [&] {
                for (unsigned n = 0; n < 20; n++) {
                    AppClient c(site.port, password, domain);
                    if (!c.Connect()) continue;
                    // Half leave while logging in, half right after sending a post.
                    if (n % 2 == 0) {
                        c.Send("{\"mt\":\"AppChallenge\"}");
                    }
                    else if (c.Login(TeamLogin("leaver"))) {
                        vanished.push_back(Guid(1000));
                        c.Send(Json().Str("mt", "Post").Str("topic", "team").Str("text", "left").Str("guid", vanished.back()));
                    }
                    c.Drop();
                }
            },
            [&] {
                // A post whose client left is stored once or not at all.
                std::string list = "NULL";
                for (auto& g : vanished) list += "," + SqlText(g);
                std::string most = site.Value("SELECT coalesce(max(c), 0) FROM (SELECT count(*) AS c FROM messages "
                                              "WHERE guid IN (" + list + ") GROUP BY guid) d");
                return most == "0" || most == "1" ? "" : " a vanished client's post stored " + most + " times";
            });
    }

    Load load(site, Writers());
    std::string message;
    Run(
        "clients-vanish-mid-upload", load,
        [&] {
            auto p = TryLogin(site.port, "uploader");
            ASSERT_TRUE(p);
            JsonMessage r = p->Reply(Json().Str("mt", "Post").Str("topic", "team").Str("text", "files"), "PostResult");
            message = std::to_string(r.Number("id"));
            std::string target = "/messages/?msg-id=" + message + "&session=" + std::to_string(r.Number("session")) +
                                 "&key=" + std::to_string(r.Number("key")) + "&file-name=cut.bin";
            std::string body = Pattern(300000);
            for (int n = 0; n < 5; n++) {
                // An upload of 1 MB announced, 300 kB sent, the connection closed.
                RawClient c(site.port);
                if (c.Write("POST " + target + " HTTP/1.1\r\nHost: e2e\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Length: 1000000\r\n\r\n" + body))
                    usleep(200000);
            }
        },
        [&] {
            // Every part the vanished clients left goes with them.
            for (int i = 0; i < 250; i++) {
                if (site.Value("SELECT count(*) FROM files WHERE folder=" + message) == "0") return "";
                usleep(20000);
            }
            return " parts of vanished uploads stay";
        });
}

TEST_F(e2e_faults_under_load, a_client_that_stops_reading_is_closed_and_others_are_served_meanwhile)
{
    // Texts of 8 kB, so that the socket buffers in front of the stuck client fill soon.
    Load load(site, Writers(), 8192);
    auto reader = TryLogin(site.port, "reader");
    ASSERT_TRUE(reader);
    reader->Reply(
        Json().Str("mt", "SetFilter").Str("src", "all").Num("count", 0).Raw("filter", Json().Strs("topics", {"team"})),
        "SetFilterResult");
    auto watching = Clock::now();
    // The reader's updates, by message id, with the time each came.
    std::map<unsigned long long, Clock::time_point> arrived;
    std::thread reading([&] {
        JsonMessage m;
        while (reader->Receive(m, 3000))
            if (m.Mt() == "Add") arrived[m.Number("id", m.Object("msg"))] = Clock::now();
    });

    Clock::time_point stuckSince, closedAt;
    size_t drained = 0;
    bool closed = false, again = false;
    Run(
        "slow-reader", load,
        [&] {
            auto stuck = TryLogin(site.port, "stuck");
            ASSERT_TRUE(stuck);
            // Several views of the same topic, as a client with a few panes open has.
            for (int f = 0; f < 8; f++)
                stuck->Reply(Json().Str("mt", "SetFilter").Str("src", "view" + std::to_string(f)).Num("count", 0).Raw(
                                 "filter", Json().Strs("topics", {"team"})),
                             "SetFilterResult");
            JsonMessage mine = stuck->Reply(Json().Str("mt", "Post").Str("topic", "team").Str("text", "stuck"), "PostResult");
            // From here on it reads nothing, and its socket takes little.
            int fd = boost::beast::get_lowest_layer(stuck->ws.ws).socket().native_handle(), small = 4096, large = 1 << 22;
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
            stuckSince = Clock::now();
            ASSERT_TRUE(site.LogSays("Session " + std::to_string(mine.Number("session")) + " does not read its updates", 60000));
            closedAt = Clock::now();
            // Reading again, the client finds what the buffers held, then the end.
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &large, sizeof(large));
            std::string text;
            while (stuck->ws.Read(text, nullptr, 10000)) drained++;
            closed = stuck->ws.error == boost::beast::websocket::error::closed;
            again = TryLogin(site.port, "stuck") != nullptr;
        },
        [&] {
            std::string problems;
            if (!closed) problems += " the stuck client's websocket was not closed";
            if (!again) problems += " the stuck client could not log in again";
            return problems;
        });
    reading.join();

    // Every acknowledged post reached the reader; its delays before the
    // stuck client came and while its queue grew, side by side.
    std::vector<long long> calm, stuck;
    size_t missing = 0;
    for (auto& [id, acked] : load.AckTimes()) {
        if (acked < watching) continue;
        auto it = arrived.find(id);
        if (it == arrived.end()) {
            missing++;
            continue;
        }
        long long delay = std::max(0LL, (long long)std::chrono::duration_cast<std::chrono::milliseconds>(it->second - acked).count());
        if (acked < stuckSince) calm.push_back(delay);
        else if (acked < closedAt) stuck.push_back(delay);
    }
    auto figures = [](std::vector<long long> v) {
        if (v.empty()) return std::string("none");
        std::sort(v.begin(), v.end());
        return std::to_string(v[v.size() / 2]) + "/" + std::to_string(v.back()) + " ms of " + std::to_string(v.size());
    };
    std::cout << "slow-reader: the other reader's update delay p50/max " << figures(calm) << " before, " << figures(stuck)
              << " while a client was stuck; the stuck client read " << drained << " messages after it was closed"
              << std::endl;
    EXPECT_EQ(missing, 0u) << "updates the reader never got";
}

TEST(e2e_faults, a_service_started_without_its_database_serves_once_the_database_is_there)
{
    Site site(false);
    ASSERT_TRUE(site.pg.Crash()) << site.pg.Error();
    site.StartService();
    // Three attempts have found nobody (at once, and on the back-off after
    // each failure): no websocket is taken meanwhile; a later attempt finds the server.
    ASSERT_TRUE(site.LogSays("DatabaseShutdown reason: DB_ERR_CONNECT_FAILED", 30000, 3)) << site.service->Output();
    EXPECT_FALSE(site.Serving(0, 100)) << site.web->process.Output();
    ASSERT_TRUE(site.pg.Resume()) << site.pg.Error();
    ASSERT_TRUE(site.Serving(0, 30000)) << site.web->process.Output();
    ASSERT_GE(site.RecoveryMs(10000), 0);
    EXPECT_EQ(site.Value("SELECT count(*) FROM messages WHERE guid=" + SqlText(site.probes.back())), "1");
    site.Stop();
}
