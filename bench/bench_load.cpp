// The load of many people at once through platform-webserver, one websocket
// each on one io_context. scripts/bench-load.sh sets up the site and its
// history and searches for the largest number of people it carries.
//
//   bench_load --port=PORT --people=N [--topics=T] [--prefix=load-user-] [--ramp=S] [--warmup=S]
//              [--seconds=60] [--pause=10] [--new=0.25] [--timeout=10] [--limit-ms=100]
//              [--delivery-limit-ms=200] [--storm] [--seed=1] [--acknowledged=FILE]
//       person i logs in as PREFIX + i, the logins spread over RAMP seconds;
//       each holds 3 to 10 of the topics load-topic-1..T (teams: a topic is
//       shared by about N * 6.5 / T people), registers a discussion list of
//       one of them ("SetFilter", src "f") and an unread count over all
//       ("SetUnreadFilter", src "u"), then acts after exponentially
//       distributed pauses of PAUSE seconds on average, one request at a
//       time: per post, 6.5 filter switches, 2 older pages, 1 unread check,
//       0.6 discussion views, 0.32 read marks, 0.13 likes and 0.04 edits; a
//       post opens a discussion NEW of the time and replies otherwise.
//       After WARMUP seconds it prints "measuring", after SECONDS more
//       "measured", then the table of the requests sent in between (sent to
//       their result) and of the live "Add" updates of the posts sent in
//       between (the post's send time to the update's arrival at each
//       receiving session), and the line
//       "people=.. ... pass=yes|no": every type's p99 under LIMIT, the
//       deliveries' p99 under DELIVERY-LIMIT, no timeout, no disconnect.
//       With --storm it then prints "storm-ready" and goes on acting; once the
//       connections drop (the webserver restarts) every person reconnects with
//       a back-off of its own, and "storm people=N seconds=S ..." tells the
//       time from the first drop until the last person is logged in again
//       with both filters registered.
//       With --acknowledged it writes every write the service acknowledged
//       to FILE, a line each: "post ID", "read ID SIP" or "like ID SIP".
// Common: [--path=/messages] [--domain=example.local] [--password=kfo].
#include <rapidjson/document.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <algorithm>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/app_session.h"
#include "bench/bench_load_stats.h"
#include "bench/driver_options.h"

using namespace bench;
using Clock = std::chrono::steady_clock;

namespace {

double Millis(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string Quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if ((unsigned char)c < 0x20) continue;
        out += c;
    }
    return out + "\"";
}

const rapidjson::Value* Member(const rapidjson::Value& v, const char* name)
{
    if (!v.IsObject()) return nullptr;
    auto m = v.FindMember(name);
    return m == v.MemberEnd() ? nullptr : &m->value;
}

unsigned long long U64(const rapidjson::Value& v, const char* name)
{
    auto m = Member(v, name);
    return m && m->IsUint64() ? m->GetUint64() : 0;
}

std::string Str(const rapidjson::Value& v, const char* name)
{
    auto m = Member(v, name);
    return m && m->IsString() ? m->GetString() : "";
}

bool True(const rapidjson::Value& v, const char* name)
{
    auto m = Member(v, name);
    return m && m->IsBool() && m->GetBool();
}

// A message the person has seen, enough to reply to it, like it or read it.
struct Seen {
    unsigned long long id = 0, addsTo = 0, repliesTo = 0;
    std::string author, topic, text;
};

struct Options {
    unsigned people = 100, topics = 50;
    std::string prefix = "load-user-";
    double ramp = 10, warmup = 20, seconds = 60, pause = 10, share = 0.25, timeout = 10;
    double limit = 100, deliveryLimit = 200;
    bool storm = false;
    unsigned seed = 1;
    std::string acknowledged;
};

// Relative weights of the actions, per post.
const double kMix[] = {6.5, 2, 1, 0.6, 0.32, 0.13, 0.04, 1};
static_assert(sizeof(kMix) / sizeof(kMix[0]) == LOGIN, "a weight for every action");

const char* const kWords[] = {"release", "build", "customer", "meeting", "tomorrow", "review", "phone", "update",
                              "please",  "check", "ticket",   "server",  "plan",     "done",   "thanks", "question",
                              "issue",   "today", "change",   "notes",   "call",     "team",   "draft",  "agreed"};

class Load : public AppSession::Owner {
public:
    Load(const Options& o, tcp::endpoint at, std::string path, std::string domain, std::string password)
        : o(o), at(at), path(std::move(path)), domain(std::move(domain)), password(std::move(password)),
          random(o.seed), pick(kMix, kMix + LOGIN), ticker(io), people(o.people)
    {
        start = Clock::now();
        measureStart = start + Seconds(o.ramp + o.warmup);
        measureEnd = measureStart + Seconds(o.seconds);
        for (unsigned i = 0; i < o.people; i++) {
            Person& p = people[i];
            p.timer = std::make_unique<asio::steady_timer>(io);
            std::uniform_int_distribution<unsigned> count(3, 10), topic(1, o.topics);
            for (unsigned n = count(random); p.topics.size() < n && p.topics.size() < o.topics;) {
                std::string t = "load-topic-" + std::to_string(topic(random));
                if (std::find(p.topics.begin(), p.topics.end(), t) == p.topics.end()) p.topics.push_back(t);
            }
            p.filterTopic = p.topics.front();
            At(p, start + Seconds(o.ramp * i / o.people), [this, i] { Connect(i); });
        }
        if (!o.acknowledged.empty()) acknowledged = fopen(o.acknowledged.c_str(), "w");
        Tick();
    }

    ~Load()
    {
        if (acknowledged) fclose(acknowledged);
    }

    int Run()
    {
        // Everything ends by itself; this bound only stops a stuck peer.
        io.run_for(Seconds(o.ramp + o.warmup + o.seconds + (o.storm ? 300 : 0) + 120));
        if (!reported) {
            fprintf(stderr, "bench_load: the run did not end in time\n");
            return 1;
        }
        return phase == STORM && back < o.people ? 1 : 0;
    }

private:
    enum Phase { RAMP, WARMUP, MEASURE, DRAIN, STORM };

    struct Person {
        std::shared_ptr<AppSession> session;
        std::unique_ptr<asio::steady_timer> timer;
        std::vector<std::string> topics;
        std::string filterTopic;
        // The request outstanding, if any, and when it left.
        int pending = -1;
        Clock::time_point sentAt, connectAt;
        bool measured = false, timedOut = false;
        // Set up: logged in and both filters registered.
        bool ready = false;
        double backoff = 0;
        std::vector<Seen> seen;  // the latest few, oldest first
        // The last row of the current discussion list, where "GetMore" goes on: its discussion and time.
        unsigned long long lastDiscussion = 0, lastTime = 0;
        std::vector<unsigned long long> own;
    };

    static Clock::duration Seconds(double s)
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
    }

    template <class F> void At(Person& p, Clock::time_point when, F f)
    {
        p.timer->expires_at(when);
        p.timer->async_wait([f](beast::error_code ec) {
            if (!ec) f();
        });
    }

    LoginData LoginOf(unsigned i) const
    {
        std::string info = "{\"apps\":[";
        const Person& p = people[i];
        for (size_t t = 0; t < p.topics.size(); t++)
            info += std::string(t ? "," : "") + "{\"name\":\"" + p.topics[t] + "\",\"dn\":\"Topic " + p.topics[t] + "\"}";
        info += "]}";
        std::string sip = o.prefix + std::to_string(i + 1);
        return LoginData{domain, password, sip, GuidOf(i + 1), "Load " + sip, info};
    }

    void Connect(unsigned i)
    {
        Person& p = people[i];
        p.connectAt = p.sentAt = Clock::now();
        p.measured = false;
        p.pending = LOGIN;
        p.ready = false;
        p.session = std::make_shared<AppSession>(io, at, path, LoginOf(i), *this, i);
        p.session->Start();
    }

    Person* Current(AppSession& s)
    {
        Person& p = people[s.index];
        return p.session.get() == &s ? &p : nullptr;
    }

    void LoggedIn(AppSession& s) override
    {
        Person* p = Current(s);
        if (!p) return;
        double ms = Millis(Clock::now() - p->connectAt);
        if (phase == STORM) stormLogins.push_back(ms);
        else if (phase == RAMP) stats.types[LOGIN].millis.push_back(ms);
        p->backoff = 0;
        SetFilter(*p);
    }

    void Send(Person& p, RequestType type, const std::string& text)
    {
        Clock::time_point now = Clock::now();
        p.pending = type;
        p.sentAt = now;
        p.measured = now >= measureStart && now < measureEnd;
        p.timedOut = false;
        if (p.measured) actions++;
        p.session->Send(text);
    }

    void SetFilter(Person& p)
    {
        p.lastDiscussion = p.lastTime = 0;
        Send(p, SET_FILTER,
             "{\"mt\":\"SetFilter\",\"src\":\"f\",\"count\":40,\"discussion\":true,\"read\":true,\"filter\":{\"topics\":[" +
                 Quoted(p.filterTopic) + "]}}");
    }

    void SetUnreadFilter(Person& p) { Send(p, SET_UNREAD_FILTER, "{\"mt\":\"SetUnreadFilter\",\"src\":\"u\",\"filter\":{}}"); }

    const Seen* AnySeen(Person& p)
    {
        if (p.seen.empty()) return nullptr;
        return &p.seen[std::uniform_int_distribution<size_t>(0, p.seen.size() - 1)(random)];
    }

    std::string Words(unsigned n)
    {
        std::string text;
        std::uniform_int_distribution<size_t> word(0, sizeof(kWords) / sizeof(kWords[0]) - 1);
        for (unsigned i = 0; i < n; i++) text += std::string(i ? " " : "") + kWords[word(random)];
        return text;
    }

    // One action, drawn by the mix; one that needs a message seen before and
    // has none becomes a filter switch.
    void Act(Person& p)
    {
        int type = pick(random);
        const Seen* seen = AnySeen(p);
        if ((type == DISCUSSION || type == SET_READ || type == LIKE) && !seen) type = SET_FILTER;
        if (type == UPDATE && p.own.empty()) type = SET_FILTER;
        switch (type) {
        case SET_FILTER:
            p.filterTopic = p.topics[std::uniform_int_distribution<size_t>(0, p.topics.size() - 1)(random)];
            return SetFilter(p);
        case GET_MORE: {
            std::string more = "{\"mt\":\"GetMore\",\"src\":\"f\",\"count\":40,\"discussion\":true,\"read\":true";
            if (p.lastDiscussion)
                more += ",\"timestamp\":" + std::to_string(p.lastTime) + ",\"id\":" + std::to_string(p.lastDiscussion);
            return Send(p, GET_MORE, more + "}");
        }
        case SET_UNREAD_FILTER: return SetUnreadFilter(p);
        case DISCUSSION:
            return Send(p, DISCUSSION,
                        "{\"mt\":\"Discussion\",\"src\":\"d\",\"count\":40,\"discussion\":" + std::to_string(seen->addsTo) +
                            "}");
        case SET_READ: return Send(p, SET_READ, "{\"mt\":\"SetRead\",\"src\":\"r\",\"id\":" + std::to_string(seen->id) + "}");
        case LIKE:
            return Send(p, LIKE,
                        "{\"mt\":\"Like\",\"src\":\"l\",\"id\":" + std::to_string(seen->id) +
                            ",\"addsTo\":" + std::to_string(seen->addsTo) + ",\"repliesTo\":" +
                            std::to_string(seen->repliesTo) + ",\"author\":" + Quoted(seen->author) +
                            ",\"topic\":" + Quoted(seen->topic) + ",\"text\":" + Quoted(seen->text) + "}");
        case UPDATE:
            return Send(p, UPDATE,
                        "{\"mt\":\"Update\",\"src\":\"e\",\"id\":" +
                            std::to_string(p.own[std::uniform_int_distribution<size_t>(0, p.own.size() - 1)(random)]) +
                            ",\"text\":\"edited: " + Words(8) + "\"}");
        default: {
            // The text starts with the post's number, by which its live updates are timed.
            std::string post = "{\"mt\":\"Post\",\"src\":\"p\",\"text\":\"p" + std::to_string(postSent.size()) + " " +
                               Words(std::uniform_int_distribution<unsigned>(4, 30)(random)) + "\"";
            bool opens = !seen || std::uniform_real_distribution<double>(0, 1)(random) < o.share;
            if (opens) post += ",\"topic\":" + Quoted(p.filterTopic);
            else
                post += ",\"topic\":" + Quoted(seen->topic) + ",\"addsTo\":" + std::to_string(seen->addsTo) +
                        ",\"repliesTo\":" + std::to_string(seen->id);
            Send(p, POST, post + "}");
            postSent.push_back({p.sentAt, p.measured});
        }
        }
    }

    void Pause(unsigned i)
    {
        Person& p = people[i];
        double s = std::exponential_distribution<double>(1.0 / o.pause)(random);
        At(p, Clock::now() + Seconds(s), [this, i] {
            Person& p = people[i];
            if (p.ready && p.pending < 0 && phase != DRAIN) Act(p);
        });
    }

    void Received(AppSession& s, const rapidjson::Document& doc) override
    {
        Person* p = Current(s);
        if (!p) return;
        const char* mt = Mt(doc);
        if (phase == MEASURE) {
            received++;
            unreadChanges += !strcmp(mt, "SetUnread") || !strcmp(mt, "SetRead");
        }
        if (!strcmp(mt, "Add")) return Row(*p, doc);
        if (p->pending < 0 || strcmp(mt, kResultNames[p->pending])) return;
        RequestType type = (RequestType)p->pending;
        p->pending = -1;
        if (p->measured) {
            stats.types[type].millis.push_back(Millis(Clock::now() - p->sentAt));
            if (True(doc, "error")) stats.types[type].errors++;
        }
        if (acknowledged && !True(doc, "error") && U64(doc, "id")) {
            const char* kind = type == POST ? "post" : type == SET_READ ? "read" : type == LIKE ? "like" : nullptr;
            std::string sip = o.prefix + std::to_string(p - people.data() + 1);
            if (kind) fprintf(acknowledged, "%s %llu %s\n", kind, U64(doc, "id"), type == POST ? "" : sip.c_str());
        }
        if (type == POST && U64(doc, "id")) {
            if (p->own.size() >= 8) p->own.erase(p->own.begin());
            p->own.push_back(U64(doc, "id"));
        }
        if (!p->ready) {
            // Setting up: the discussion list, then the unread count.
            if (type == SET_FILTER) return SetUnreadFilter(*p);
            p->ready = true;
            if (phase == STORM && ++back == o.people) return StormOver();
        }
        Pause(s.index);
    }

    void Row(Person& p, const rapidjson::Document& doc)
    {
        auto msg = Member(doc, "msg");
        if (!msg || !msg->IsObject()) return;
        Seen seen;
        seen.id = U64(*msg, "id");
        seen.addsTo = U64(*msg, "addsTo");
        seen.repliesTo = U64(*msg, "repliesTo");
        seen.author = Str(*msg, "author");
        seen.topic = Str(*msg, "topic");
        seen.text = Str(*msg, "text");
        if (True(doc, "update")) {
            unsigned long long n;
            if (sscanf(seen.text.c_str(), "p%llu ", &n) == 1 && n < postSent.size() && postSent[n].measured)
                stats.delivery.push_back(Millis(Clock::now() - postSent[n].at));
        }
        else if (p.pending == SET_FILTER || p.pending == GET_MORE) {
            p.lastDiscussion = seen.addsTo;
            p.lastTime = U64(*msg, "rtimestamp");
        }
        if (!seen.id || seen.topic.empty()) return;
        if (p.seen.size() >= 8) p.seen.erase(p.seen.begin());
        p.seen.push_back(std::move(seen));
    }

    void Failed(AppSession& s, const std::string& why) override
    {
        Person* p = Current(s);
        if (!p) return;
        if (phase == STORM) {
            if (!stormStarted) {
                stormStarted = true;
                stormStart = Clock::now();
            }
            if (p->ready) p->ready = false;
            else if (p->backoff > 0) stormRetries++;
        }
        else {
            stats.disconnects++;
            if (stats.disconnects <= 10) fprintf(stderr, "bench_load: %s: %s\n", s.Sip().c_str(), why.c_str());
        }
        p->session.reset();
        p->pending = -1;
        p->ready = false;
        // A back-off of its own, spread so that not everyone knocks at once.
        p->backoff = std::min(p->backoff ? p->backoff * 2 : 0.25, 4.0);
        double wait = p->backoff * std::uniform_real_distribution<double>(0.5, 1.5)(random);
        unsigned i = s.index;
        At(*p, Clock::now() + Seconds(wait), [this, i] { Connect(i); });
    }

    // Once a second: the phases, and requests that wait too long.
    void Tick()
    {
        ticker.expires_after(std::chrono::seconds(1));
        ticker.async_wait([this](beast::error_code ec) {
            if (ec) return;
            Clock::time_point now = Clock::now();
            for (auto& p : people)
                if (p.pending >= 0 && !p.timedOut && now - p.sentAt > Seconds(o.timeout)) {
                    p.timedOut = true;
                    if (p.measured) stats.types[p.pending].timeouts++;
                }
            Advance(now);
            if (phase == STORM && stormStarted) StormProgress(now);
            if (!reported || phase == STORM) Tick();
        });
    }

    unsigned Ready() const
    {
        unsigned n = 0;
        for (auto& p : people) n += p.ready;
        return n;
    }

    // Where the people who are not set up yet wait.
    void Unready() const
    {
        unsigned waiting[TYPES + 1] = {};
        for (auto& p : people)
            if (!p.ready) waiting[p.session ? (p.pending >= 0 ? p.pending : TYPES) : LOGIN]++;
        fprintf(stderr, "bench_load: not set up at the start of the measured period:");
        for (int t = 0; t <= TYPES; t++)
            if (waiting[t]) fprintf(stderr, " %s %u", t < TYPES ? kTypeNames[t] : "nothing", waiting[t]);
        fprintf(stderr, "\n");
    }

    void Advance(Clock::time_point now)
    {
        if (phase == RAMP && now >= start + Seconds(o.ramp)) {
            printf("ramped people=%u ready=%u seconds=%.1f\n", o.people, Ready(), o.ramp);
            fflush(stdout);
            phase = WARMUP;
        }
        if (phase == WARMUP && now >= measureStart) {
            readyAtStart = Ready();
            if (readyAtStart < o.people) Unready();
            getrusage(RUSAGE_SELF, &usageStart);
            printf("measuring\n");
            fflush(stdout);
            phase = MEASURE;
        }
        if (phase == MEASURE && now >= measureEnd) {
            getrusage(RUSAGE_SELF, &usageEnd);
            printf("measured\n");
            fflush(stdout);
            phase = DRAIN;
        }
        if (phase != DRAIN) return;
        // The requests of the measured period have their replies, or have waited out the timeout.
        bool waiting = false;
        for (auto& p : people) waiting |= p.pending >= 0 && p.measured && !p.timedOut;
        if (waiting && now < measureEnd + Seconds(o.timeout + 1)) return;
        for (auto& p : people)
            if (p.pending >= 0 && p.measured && !p.timedOut) stats.types[p.pending].timeouts++;
        Report();
    }

    static double CpuMs(const rusage& u)
    {
        return u.ru_utime.tv_sec * 1e3 + u.ru_utime.tv_usec / 1e3 + u.ru_stime.tv_sec * 1e3 + u.ru_stime.tv_usec / 1e3;
    }

    void Report()
    {
        reported = true;
        unsigned posts = 0;
        for (auto& s : postSent) posts += s.measured;
        auto worst = stats.WorstP99();
        std::vector<double> d = stats.delivery;
        double deliveryP99 = Percentile(d, 0.99);
        bool pass = readyAtStart == o.people && worst.second < o.limit && deliveryP99 < o.deliveryLimit &&
                    !stats.Timeouts() && !stats.disconnects;
        printf("people=%u ready=%u seconds=%.0f actions=%u rate=%.1f posts=%u deliveries=%zu delivery_p50_ms=%.2f "
               "delivery_p99_ms=%.2f delivery_max_ms=%.2f errors=%u timeouts=%u disconnects=%u worst_p99=%s:%.2f "
               "received=%llu unread_changes=%llu driver_cpu_ms=%.0f pass=%s\n",
               o.people, readyAtStart, o.seconds, actions, actions / o.seconds, posts, d.size(), Percentile(d, 0.5),
               deliveryP99, Percentile(d, 1.0), stats.Errors(), stats.Timeouts(), stats.disconnects,
               worst.first >= 0 ? kTypeNames[worst.first] : "-", worst.second, received, unreadChanges,
               CpuMs(usageEnd) - CpuMs(usageStart),
               pass ? "yes" : "no");
        stats.PrintTable(stdout);
        fflush(stdout);
        if (!o.storm) return Close();
        phase = STORM;
        back = 0;
        printf("storm-ready\n");
        fflush(stdout);
        for (unsigned i = 0; i < o.people; i++) Pause(i);
    }

    // Once a second in the storm: how many are back, and where the others wait
    // (no session: backing off before the next attempt).
    void StormProgress(Clock::time_point now)
    {
        unsigned waiting[TYPES + 1] = {}, idle = 0;
        for (auto& p : people)
            if (!p.ready) {
                if (!p.session) idle++;
                else waiting[p.pending >= 0 ? p.pending : TYPES]++;
            }
        printf("storm-progress seconds=%.0f back=%u backing_off=%u", Millis(now - stormStart) / 1000, back, idle);
        for (int t = 0; t <= TYPES; t++)
            if (waiting[t]) printf(" %s=%u", t < TYPES ? kTypeNames[t] : "nothing", waiting[t]);
        printf("\n");
        fflush(stdout);
    }

    void StormOver()
    {
        double took = Millis(Clock::now() - stormStart) / 1000;
        printf("storm people=%u seconds=%.2f login_p50_ms=%.1f login_p99_ms=%.1f login_max_ms=%.1f retries=%u\n",
               o.people, took, Percentile(stormLogins, 0.5), Percentile(stormLogins, 0.99),
               Percentile(stormLogins, 1.0), stormRetries);
        fflush(stdout);
        Close();
    }

    void Close()
    {
        for (auto& p : people) {
            p.timer->cancel();
            if (p.session) p.session->Close();
        }
        ticker.cancel();
        io.stop();
    }

    struct PostSent {
        Clock::time_point at;
        bool measured;
    };

    asio::io_context io{1};
    const Options& o;
    tcp::endpoint at;
    std::string path, domain, password;
    std::mt19937_64 random;
    std::discrete_distribution<int> pick;
    asio::steady_timer ticker;
    std::vector<Person> people;
    Phase phase = RAMP;
    Clock::time_point start, measureStart, measureEnd, stormStart;
    std::vector<PostSent> postSent;
    LoadStats stats;
    unsigned actions = 0, readyAtStart = 0, back = 0, stormRetries = 0;
    // Every message the people received in the measured period, and the
    // unread filters' changes among them: most of the traffic.
    unsigned long long received = 0, unreadChanges = 0;
    FILE* acknowledged = nullptr;
    bool reported = false, stormStarted = false;
    std::vector<double> stormLogins;
    rusage usageStart{}, usageEnd{};
};

}  // namespace

int main(int argc, char** argv)
{
    // The options start at argv[2] in the shared parser; this driver has no mode.
    std::vector<char*> args{argv[0], argv[0]};
    for (int i = 1; i < argc; i++) args.push_back(argv[i]);
    int n = (int)args.size();
    char** a = args.data();
    Options o;
    unsigned port = (unsigned)atoi(Option(n, a, "port", "0"));
    o.people = (unsigned)atoi(Option(n, a, "people", "100"));
    o.topics = (unsigned)atoi(Option(n, a, "topics", "50"));
    o.prefix = Option(n, a, "prefix", "load-user-");
    o.ramp = atof(Option(n, a, "ramp", "10"));
    o.warmup = atof(Option(n, a, "warmup", "20"));
    o.seconds = atof(Option(n, a, "seconds", "60"));
    o.pause = atof(Option(n, a, "pause", "10"));
    o.share = atof(Option(n, a, "new", "0.25"));
    o.timeout = atof(Option(n, a, "timeout", "10"));
    o.limit = atof(Option(n, a, "limit-ms", "100"));
    o.deliveryLimit = atof(Option(n, a, "delivery-limit-ms", "200"));
    o.storm = Flag(n, a, "storm");
    o.seed = (unsigned)atoi(Option(n, a, "seed", "1"));
    o.acknowledged = Option(n, a, "acknowledged", "");
    if (!port || !o.people || o.topics < 3 || o.seconds <= 0 || o.pause <= 0 || o.timeout <= 0) {
        fprintf(stderr, "usage: bench_load --port=PORT --people=N [options] (see bench/bench_load.cpp)\n");
        return 2;
    }
    tcp::endpoint at(asio::ip::make_address("127.0.0.1"), (unsigned short)port);
    return Load(o, at, Option(n, a, "path", "/messages"), Option(n, a, "domain", "example.local"),
                Option(n, a, "password", "kfo"))
        .Run();
}
