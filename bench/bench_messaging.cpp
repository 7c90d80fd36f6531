// The messaging core under load, through platform-webserver: posts per
// second, the fan-out of one post to many sessions, and the latency of the
// two reading requests. scripts/bench-messaging.sh runs each next to pgbench
// running the service's own statements on the same server.
//
//   bench_messaging posts --port=PORT [--connections=16] [--seconds=10] [--prefix=poster-]
//                         [--first=1 --last=2000] [--new-every=4]
//       every connection logs in as PREFIX + N and posts, each post after the
//       previous one's "PostResult": every NEW-EVERY-th post opens a discussion,
//       the others add to a discussion picked at random from FIRST..LAST; prints
//       "posts=N seconds=S rate=R p50_ms=A p99_ms=B new=N added=N"
//   bench_messaging fanout --port=PORT [--sessions=2000] [--parallel=16] [--rounds=5] [--gap=1] [--pids=P,Q]
//       SESSIONS sessions log in and set a filter on the topic; then one more
//       session posts ROUNDS times, each GAP seconds after every session has its
//       "Add"; per round prints the post's wall-clock send time and the
//       milliseconds to its "PostResult", the first and the last "Add"; at the
//       end the CPU milliseconds per round of the processes PIDS and of the
//       driver, each round counted up to the start of the next
//   bench_messaging read --port=PORT --request=discussions|unread [--seconds=10] [--sip=reader]
//                        [--topics=team,team-b] [--count=50]
//       one session repeats "SetFilter" (the discussion list of the first
//       topic, COUNT per page) or "SetUnreadFilter" (no filter terms), each
//       after the previous one's result; prints "requests=N mean_ms=.. p50_ms=..
//       p99_ms=.. max_ms=.. rows=R" (the rows of a page, or the unread count)
//   bench_messaging ask --port=PORT --requests=FILE --result=MT --row=MT [--passes=1] [--sip=reader]
//                       [--topics=team,team-b] [--page=FIELD:ROWFIELD] [--pages=N] [--each=OUT] [--timeout=600]
//       one session sends the requests of FILE (one JSON object a line) in
//       order, PASSES times, each after the previous one's result MT; rows
//       are the messages of type MT (row) in between. With --page a request
//       is repeated with FIELD set to the smallest ROWFIELD of its last
//       page's rows, until a page comes back empty or after N pages ("older"
//       and "timestamp" walk back through a chat). Prints the summary line of "read"; OUT
//       gets a line per request: "N MS ROWS"; the run fails when the passes
//       have not ended within TIMEOUT seconds. [--replies=FILE] gets each
//       result message as a line of JSON
// Common: [--path=/messages] [--domain=example.local] [--password=kfo] [--topic=team].
// Every user names the topics of --topics (the first one alone for posters
// and watchers) as its apps, so it may post and read there.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bench/app_session.h"
#include "bench/driver_options.h"

using namespace bench;
using Clock = std::chrono::steady_clock;

namespace {

double MillisSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// CPU milliseconds (user and system) a process has used so far; 0 when it is gone.
double CpuMillis(int pid)
{
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/stat", pid);
    FILE* f = fopen(path, "re");
    if (!f) return 0;
    char line[1024];
    size_t n = fread(line, 1, sizeof(line) - 1, f);
    fclose(f);
    line[n] = 0;
    const char* p = strrchr(line, ')');
    unsigned long long utime = 0, stime = 0;
    if (!p || sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2) return 0;
    return (utime + stime) * 1000.0 / sysconf(_SC_CLK_TCK);
}

long long EpochMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Site {
    tcp::endpoint at;
    std::string path, domain, password;
    std::vector<std::string> topics;

    bool Read(int argc, char** argv)
    {
        unsigned port = (unsigned)atoi(Option(argc, argv, "port", "0"));
        if (!port) return false;
        at = tcp::endpoint(asio::ip::make_address("127.0.0.1"), (unsigned short)port);
        path = Option(argc, argv, "path", "/messages");
        domain = Option(argc, argv, "domain", "example.local");
        password = Option(argc, argv, "password", "kfo");
        std::stringstream list(Option(argc, argv, "topics", Option(argc, argv, "topic", "team")));
        for (std::string t; std::getline(list, t, ',');)
            if (!t.empty()) topics.push_back(t);
        return !topics.empty();
    }
    const std::string& Topic() const { return topics.front(); }

    // The login of `sip`, whose apps are the first `apps` topics.
    LoginData Login(const std::string& sip, unsigned long long n, size_t apps) const
    {
        std::string info = "{\"apps\":[";
        for (size_t i = 0; i < apps && i < topics.size(); i++)
            info += std::string(i ? "," : "") + "{\"name\":\"" + topics[i] + "\",\"dn\":\"Topic " + topics[i] + "\"}";
        info += "]}";
        return LoginData{domain, password, sip, GuidOf(n), "Bench " + sip, info};
    }
};

bool True(const rapidjson::Document& doc, const char* name)
{
    auto m = doc.FindMember(name);
    return m != doc.MemberEnd() && m->value.IsBool() && m->value.GetBool();
}

unsigned long long Number(const rapidjson::Document& doc, const char* name)
{
    auto m = doc.FindMember(name);
    return m != doc.MemberEnd() && m->value.IsUint64() ? m->value.GetUint64() : 0;
}

std::string PostMessage(const std::string& topic, const std::string& text, unsigned long long addsTo)
{
    std::string post = "{\"mt\":\"Post\",\"src\":\"p\",\"topic\":\"" + topic + "\",\"text\":\"" + text + "\"";
    if (addsTo) post += ",\"addsTo\":" + std::to_string(addsTo);
    return post + "}";
}

// The first few failures say what went wrong; the rest only count.
struct Failures {
    unsigned count = 0;
    void Report(const std::string& who, const std::string& why)
    {
        if (++count <= 10) fprintf(stderr, "bench_messaging: %s: %s\n", who.c_str(), why.c_str());
    }
};

class Posts : public AppSession::Owner {
public:
    Posts(const Site& site, unsigned connections, double seconds, const std::string& prefix, unsigned long long first,
          unsigned long long last, unsigned newEvery)
        : site(site), connections(connections), seconds(seconds), newEvery(newEvery), pick(first, last),
          random(12345), sent(connections), counts(connections)
    {
        for (unsigned i = 0; i < connections; i++) {
            sessions.push_back(std::make_shared<AppSession>(io, site.at, site.path,
                                                            site.Login(prefix + std::to_string(i), i, 1), *this, i));
            sessions.back()->Start();
        }
    }

    int Run()
    {
        // The load ends by itself after its deadline; this bound only stops a stuck peer.
        io.run_for(std::chrono::milliseconds((long long)(seconds * 1000) + 60000));
        double took = std::chrono::duration<double>(lastResult - start).count();
        unsigned long long posts = newPosts + addedPosts;
        if (finished < connections) fprintf(stderr, "bench_messaging posts: %u connections never finished\n",
                                            connections - finished);
        printf("posts=%llu seconds=%.2f rate=%.0f p50_ms=%.2f p99_ms=%.2f new=%llu added=%llu\n", posts, took,
               took > 0 ? posts / took : 0.0, Percentile(millis, 0.5), Percentile(millis, 0.99), newPosts, addedPosts);
        return failures.count || finished < connections ? 1 : 0;
    }

private:
    void LoggedIn(AppSession&) override
    {
        if (++loggedIn < connections) return;
        start = lastResult = Clock::now();
        end = start + std::chrono::milliseconds((long long)(seconds * 1000));
        for (auto& s : sessions) Post(*s);
    }

    void Post(AppSession& s)
    {
        unsigned long long k = counts[s.index]++;
        bool opens = k % newEvery == 0;
        std::string text = "Benchmark post " + std::to_string(k) + " from " + s.Sip() +
                           ": the quick brown fox jumps over the lazy dog.";
        sent[s.index] = Clock::now();
        s.Send(PostMessage(site.Topic(), text, opens ? 0 : pick(random)));
    }

    void Received(AppSession& s, const rapidjson::Document& doc) override
    {
        if (strcmp(Mt(doc), "PostResult")) return;
        if (True(doc, "error") || !Number(doc, "id")) {
            failures.Report(s.Sip(), "post refused");
            return Stop(s);
        }
        millis.push_back(MillisSince(sent[s.index]));
        lastResult = Clock::now();
        (counts[s.index] - 1) % newEvery == 0 ? newPosts++ : addedPosts++;
        if (lastResult < end) Post(s);
        else Stop(s);
    }

    void Failed(AppSession& s, const std::string& why) override
    {
        failures.Report(s.Sip(), why);
        Stop(s);
    }

    void Stop(AppSession& s)
    {
        s.Close();
        if (++finished == connections) io.stop();
    }

    asio::io_context io{1};
    const Site& site;
    unsigned connections;
    double seconds;
    unsigned newEvery;
    std::uniform_int_distribution<unsigned long long> pick;
    std::mt19937_64 random;
    std::vector<std::shared_ptr<AppSession>> sessions;
    std::vector<Clock::time_point> sent;
    std::vector<unsigned long long> counts;
    unsigned loggedIn = 0, finished = 0;
    unsigned long long newPosts = 0, addedPosts = 0;
    Clock::time_point start, end, lastResult;
    std::vector<double> millis;
    Failures failures;
};

// Watchers log in a few at a time and set their filter; then the poster logs
// in and posts round after round.
class Fanout : public AppSession::Owner {
public:
    Fanout(const Site& site, unsigned sessions, unsigned parallel, unsigned rounds, double gap, std::vector<int> pids)
        : site(site), sessions(sessions), rounds(rounds), gap(gap), timer(io), received(sessions), pids(std::move(pids))
    {
        this->pids.push_back(getpid());
        cpu.assign(this->pids.size(), 0);
        loginStart = Clock::now();
        for (unsigned i = 0; i < parallel && i < sessions; i++) LaunchWatcher();
    }

    int Run()
    {
        io.run_for(std::chrono::seconds(900));
        std::vector<double> last;
        for (auto& r : results) last.push_back(r.lastAdd);
        if (results.size() < rounds)
            fprintf(stderr, "bench_messaging fanout: %zu of %u rounds completed\n", results.size(), rounds);
        else {
            printf("sessions=%u rounds=%u median_last_add_ms=%.1f max_last_add_ms=%.1f cpu_ms_per_round=", sessions,
                   rounds, Percentile(last, 0.5), Percentile(last, 1.0));
            for (size_t i = 0; i < cpu.size(); i++) printf("%s%.1f", i ? "/" : "", cpu[i] / rounds);
            printf("\n");
        }
        return failures.count || results.size() < rounds ? 1 : 0;
    }

private:
    struct Round {
        long long sentEpochMs;
        double result, firstAdd, lastAdd;
    };

    void LaunchWatcher()
    {
        unsigned i = launched++;
        watchers.push_back(std::make_shared<AppSession>(io, site.at, site.path,
                                                        site.Login("watcher-" + std::to_string(i), i, 1), *this, i));
        watchers.back()->Start();
    }

    void LoggedIn(AppSession& s) override
    {
        if (&s == poster.get()) return Settle();
        s.Send("{\"mt\":\"SetFilter\",\"src\":\"f\",\"count\":0,\"filter\":{\"topics\":[\"" + site.Topic() + "\"]}}");
    }

    void Received(AppSession& s, const rapidjson::Document& doc) override
    {
        const char* mt = Mt(doc);
        if (&s == poster.get()) {
            if (strcmp(mt, "PostResult")) return;
            if (True(doc, "error")) return Fail(s, "post refused");
            current.result = MillisSince(sentAt);
            return RoundDone();
        }
        if (!strcmp(mt, "SetFilterResult")) {
            if (launched < sessions) LaunchWatcher();
            if (++watching == sessions) {
                printf("watchers=%u login_and_filter_seconds=%.1f\n", sessions,
                       std::chrono::duration<double>(Clock::now() - loginStart).count());
                fflush(stdout);
                poster = std::make_shared<AppSession>(io, site.at, site.path, site.Login("fanout-poster", sessions, 1),
                                                      *this, sessions);
                poster->Start();
            }
            return;
        }
        if (strcmp(mt, "Add") || !True(doc, "update")) return;
        if (++received[s.index] != results.size() + 1) return Fail(s, "an Add too many");
        double at = MillisSince(sentAt);
        if (!adds++) current.firstAdd = at;
        if (adds == sessions) {
            current.lastAdd = at;
            RoundDone();
        }
    }

    void Failed(AppSession& s, const std::string& why) override { Fail(s, why); }

    void Fail(AppSession& s, const std::string& why)
    {
        failures.Report(s.Sip(), why);
        io.stop();
    }

    // A quiet moment between rounds, so that each round starts on an idle
    // service and its CPU time holds all the work the round caused.
    void Settle()
    {
        timer.expires_after(std::chrono::milliseconds((long long)(gap * 1000)));
        timer.async_wait([this](beast::error_code ec) {
            if (ec) return;
            if (!results.empty())
                for (size_t i = 0; i < pids.size(); i++) cpu[i] += CpuMillis(pids[i]) - cpuAtStart[i];
            if (results.size() < rounds) NextRound();
            else io.stop();
        });
    }

    void NextRound()
    {
        cpuAtStart.clear();
        for (int pid : pids) cpuAtStart.push_back(CpuMillis(pid));
        adds = 0;
        current = Round{EpochMillis(), -1, -1, -1};
        sentAt = Clock::now();
        poster->Send(PostMessage(site.Topic(), "Fan-out round " + std::to_string(results.size() + 1), 0));
    }

    // Called for the "PostResult" and for the last "Add"; the round ends with the later one.
    void RoundDone()
    {
        if (current.result < 0 || current.lastAdd < 0) return;
        results.push_back(current);
        printf("round=%zu sent_epoch_ms=%lld post_result_ms=%.1f first_add_ms=%.1f last_add_ms=%.1f\n",
               results.size(), current.sentEpochMs, current.result, current.firstAdd, current.lastAdd);
        fflush(stdout);
        Settle();
    }

    asio::io_context io{1};
    const Site& site;
    unsigned sessions, rounds;
    double gap;
    asio::steady_timer timer;
    std::vector<std::shared_ptr<AppSession>> watchers;
    std::shared_ptr<AppSession> poster;
    std::vector<unsigned> received;
    std::vector<int> pids;
    std::vector<double> cpu, cpuAtStart;
    unsigned launched = 0, watching = 0, adds = 0;
    Clock::time_point loginStart, sentAt;
    Round current{};
    std::vector<Round> results;
    Failures failures;
};

// One session sends requests one at a time, each after the previous one's
// result: one request repeated for a time, or a list of requests in order,
// a number of passes. A paged request walks back from its first page until a
// page comes back empty or the walk has its pages, each next page asking
// below the smallest value its rows carried (e.g. "older" below the oldest
// "timestamp").
class Read : public AppSession::Owner {
public:
    struct Options {
        std::vector<std::string> requests;
        std::string result, row;
        double seconds = 0;  // the first request repeated for this long, when set
        unsigned passes = 1;
        double timeout = 600;  // for all passes
        std::string pageField, rowField;
        unsigned pages = ~0u;  // of a walk
        FILE* each = nullptr;  // a line per request: "index ms rows"
        FILE* replies = nullptr;  // each result as it came, a line each
    };

    Read(const Site& site, const std::string& sip, Options options) : o(std::move(options))
    {
        session = std::make_shared<AppSession>(io, site.at, site.path, site.Login(sip, 0, site.topics.size()), *this);
        session->Start();
    }

    int Run()
    {
        // The load ends by itself; this bound only stops a stuck peer.
        io.run_for(std::chrono::milliseconds((long long)((o.seconds > 0 ? o.seconds + 60 : o.timeout) * 1000)));
        if (o.each) fclose(o.each);
        if (o.replies) fclose(o.replies);
        double mean = 0;
        for (double m : millis) mean += m;
        if (!millis.empty()) mean /= millis.size();
        bool finished = o.seconds > 0 || pass == o.passes;
        if (!finished) fprintf(stderr, "bench_messaging: %u of %u passes completed\n", pass, o.passes);
        printf("requests=%zu mean_ms=%.3f p50_ms=%.3f p99_ms=%.3f max_ms=%.3f rows=%llu\n", millis.size(), mean,
               Percentile(millis, 0.5), Percentile(millis, 0.99), Percentile(millis, 1.0),
               o.seconds > 0 ? rows : allRows);
        return failures.count || millis.empty() || !finished ? 1 : 0;
    }

private:
    void LoggedIn(AppSession& s) override
    {
        end = Clock::now() + std::chrono::milliseconds((long long)(o.seconds * 1000));
        Ask(s);
    }

    void Ask(AppSession& s)
    {
        rows = 0;
        lowest = ~0ull;
        std::string request = o.requests[next];
        if (paging) SetNumber(request, o.pageField, below);
        sentAt = Clock::now();
        s.Send(request);
    }

    void Received(AppSession& s, const rapidjson::Document& doc) override
    {
        const char* mt = Mt(doc);
        if (o.row == mt) {
            rows++;
            auto v = o.rowField.empty() ? doc.MemberEnd() : doc.FindMember(o.rowField.c_str());
            if (v != doc.MemberEnd() && v->value.IsUint64() && v->value.GetUint64() < lowest)
                lowest = v->value.GetUint64();
            return;
        }
        if (o.result != mt) return;
        double ms = MillisSince(sentAt);
        millis.push_back(ms);
        // A count in the result is the request's answer (e.g. an unread count).
        if (o.seconds > 0 && doc.HasMember("count")) rows = Number(doc, "count");
        if (o.each) fprintf(o.each, "%zu %.3f %llu\n", millis.size(), ms, rows);
        if (o.replies) {
            rapidjson::StringBuffer text;
            rapidjson::Writer<rapidjson::StringBuffer> writer(text);
            doc.Accept(writer);
            fprintf(o.replies, "%s\n", text.GetString());
            fflush(o.replies);
        }
        allRows += rows;
        if (o.seconds > 0) {
            if (Clock::now() < end) return Ask(s);
            return Stop(s);
        }
        // A paged request goes on below its last page until a page is empty
        // or the walk has its pages.
        paging = !o.pageField.empty() && rows && lowest != ~0ull && ++pages < o.pages;
        if (!paging) pages = 0;
        below = lowest;
        if (!paging && ++next == o.requests.size()) {
            next = 0;
            if (++pass == o.passes) return Stop(s);
        }
        Ask(s);
    }

    void Failed(AppSession& s, const std::string& why) override
    {
        failures.Report(s.Sip(), why);
        io.stop();
    }

    void Stop(AppSession& s)
    {
        s.Close();
        io.stop();
    }

    // Sets a top-level number of a request: replaces its value, or adds it
    // before the closing brace.
    static void SetNumber(std::string& request, const std::string& name, unsigned long long value)
    {
        std::string key = "\"" + name + "\":";
        size_t at = request.find(key);
        if (at == std::string::npos) {
            request.insert(request.rfind('}'), "," + key + std::to_string(value));
            return;
        }
        at += key.size();
        size_t end = request.find_first_not_of("0123456789 ", at);
        request.replace(at, end - at, std::to_string(value));
    }

    asio::io_context io{1};
    Options o;
    std::shared_ptr<AppSession> session;
    Clock::time_point end, sentAt;
    size_t next = 0;
    unsigned pass = 0, pages = 0;
    bool paging = false;
    unsigned long long below = 0, lowest = 0;
    unsigned long long rows = 0, allRows = 0;
    std::vector<double> millis;
    Failures failures;
};

}  // namespace

int main(int argc, char** argv)
{
    Site site;
    const char* mode = argc >= 2 ? argv[1] : "";
    if (!site.Read(argc, argv)) {
        fprintf(stderr, "usage: bench_messaging posts|fanout|read|ask --port=PORT [options] (see bench/bench_messaging.cpp)\n");
        return 2;
    }
    if (!strcmp(mode, "posts")) {
        unsigned connections = (unsigned)atoi(Option(argc, argv, "connections", "16"));
        double seconds = atof(Option(argc, argv, "seconds", "10"));
        unsigned long long first = strtoull(Option(argc, argv, "first", "1"), nullptr, 10);
        unsigned long long last = strtoull(Option(argc, argv, "last", "2000"), nullptr, 10);
        unsigned newEvery = (unsigned)atoi(Option(argc, argv, "new-every", "4"));
        if (!connections || seconds <= 0 || !first || last < first || !newEvery) return 2;
        return Posts(site, connections, seconds, Option(argc, argv, "prefix", "poster-"), first, last, newEvery).Run();
    }
    if (!strcmp(mode, "fanout")) {
        unsigned sessions = (unsigned)atoi(Option(argc, argv, "sessions", "2000"));
        unsigned parallel = (unsigned)atoi(Option(argc, argv, "parallel", "16"));
        unsigned rounds = (unsigned)atoi(Option(argc, argv, "rounds", "5"));
        double gap = atof(Option(argc, argv, "gap", "1"));
        if (!sessions || !parallel || !rounds) return 2;
        std::vector<int> pids;
        std::stringstream list(Option(argc, argv, "pids", ""));
        for (std::string p; std::getline(list, p, ',');)
            if (atoi(p.c_str()) > 0) pids.push_back(atoi(p.c_str()));
        return Fanout(site, sessions, parallel, rounds, gap, pids).Run();
    }
    if (!strcmp(mode, "read")) {
        std::string request = Option(argc, argv, "request", "");
        if (request != "discussions" && request != "unread") return 2;
        bool discussions = request == "discussions";
        Read::Options o;
        o.seconds = atof(Option(argc, argv, "seconds", "10"));
        unsigned count = (unsigned)atoi(Option(argc, argv, "count", "50"));
        o.requests.push_back(discussions ? "{\"mt\":\"SetFilter\",\"src\":\"f\",\"discussion\":true,\"read\":true,"
                                           "\"count\":" + std::to_string(count) + ",\"filter\":{\"topics\":[\"" +
                                               site.Topic() + "\"]}}"
                                         : "{\"mt\":\"SetUnreadFilter\",\"src\":\"u\",\"filter\":{}}");
        o.result = discussions ? "SetFilterResult" : "SetUnreadFilterResult";
        o.row = "Add";
        if (o.seconds <= 0) return 2;
        return Read(site, Option(argc, argv, "sip", "reader"), std::move(o)).Run();
    }
    if (!strcmp(mode, "ask")) {
        Read::Options o;
        FILE* list = fopen(Option(argc, argv, "requests", ""), "re");
        if (!list) {
            fprintf(stderr, "bench_messaging ask: no --requests file\n");
            return 2;
        }
        char line[65536];
        while (fgets(line, sizeof(line), list)) {
            std::string r(line);
            while (!r.empty() && (r.back() == '\n' || r.back() == '\r')) r.pop_back();
            if (!r.empty()) o.requests.push_back(r);
        }
        fclose(list);
        o.result = Option(argc, argv, "result", "");
        o.row = Option(argc, argv, "row", "");
        o.passes = (unsigned)atoi(Option(argc, argv, "passes", "1"));
        o.timeout = atof(Option(argc, argv, "timeout", "600"));
        std::string page = Option(argc, argv, "page", "");
        if (page.find(':') != std::string::npos) {
            o.pageField = page.substr(0, page.find(':'));
            o.rowField = page.substr(page.find(':') + 1);
        }
        o.pages = (unsigned)strtoul(Option(argc, argv, "pages", "4294967295"), nullptr, 10);
        std::string each = Option(argc, argv, "each", "");
        if (!each.empty() && !(o.each = fopen(each.c_str(), "we"))) return 2;
        std::string replies = Option(argc, argv, "replies", "");
        if (!replies.empty() && !(o.replies = fopen(replies.c_str(), "we"))) return 2;
        if (o.requests.empty() || o.result.empty() || !o.passes) return 2;
        return Read(site, Option(argc, argv, "sip", "reader"), std::move(o)).Run();
    }
    fprintf(stderr, "bench_messaging: unknown mode '%s'\n", mode);
    return 2;
}
