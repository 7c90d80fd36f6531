// The PBX link through platform-webserver, driven by the PBX peer of
// platform/pbx (scripts/bench-pbx.sh sets the site up):
//   relay   a group chat of MEMBERS members, all on the peer's phones; one
//           member's text to the first and to the last relayed "facility",
//           next to a {"mt":"Test"} round trip on the same connection, ROUNDS times each.
//   badges  USERS users with PER-USER presence subscriptions each; one post that
//           notifies them all, from the post to the last "#badge" notification,
//           next to the post's own "PostResult" (and the driver's own CPU time), ROUNDS times.
// Each prints one line of name=value figures (milliseconds).
//   bench_pbx relay --port=P --domain=D --password=PW --group=SIP --member=SIP --members=50 --rounds=200
//   bench_pbx badges --port=P --domain=D --password=PW --prefix=badge-user- --users=5 --per-user=1000
//                    --topic=T --rounds=5
#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <set>

#include "bench/app_session.h"
#include "bench/driver_options.h"
#include "platform/pbx/pbx_peer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

int Fail(const std::string& why)
{
    fprintf(stderr, "bench_pbx: %s\n", why.c_str());
    return 1;
}

// The next message, or a failure when the time is up.
bool Next(pbx::PbxPeer& peer, pbx::PbxMessage& m, const char* waitingFor)
{
    if (peer.Next(m, 60000)) return true;
    fprintf(stderr, "bench_pbx: no %s (%s)\n", waitingFor, peer.error.c_str());
    return false;
}

std::string Figures(const char* name, std::vector<double> v)
{
    char line[160];
    snprintf(line, sizeof(line), " %s_median=%.3f %s_p99=%.3f", name, bench::Percentile(v, 0.5), name,
             bench::Percentile(v, 0.99));
    return line;
}

int Relay(pbx::PeerConfig config, const std::string& group, const std::string& member, unsigned members,
          unsigned rounds)
{
    pbx::PbxPeer peer(config);
    peer.autoAnswer = true;
    if (!peer.Connect()) return Fail(peer.error);
    pbx::Setup s;
    s.cg = member;
    s.cd = group;
    s.im = true;
    long long own = peer.Present(s);
    bool connected = false;
    unsigned called = 0;
    pbx::PbxMessage m;
    while (!connected || called < members - 1) {
        if (!Next(peer, m, "group chat")) return 1;
        if (m.call == own && m.type == "rel") return Fail(member + " is not let into " + group);
        connected |= m.call == own && m.type == "conn";
        called += m.type == "setup";
    }
    std::vector<double> first, last, test;
    for (unsigned round = 0; round < rounds; round++) {
        auto start = Clock::now();
        peer.Send("{\"mt\":\"Test\",\"src\":\"rtt\"}");
        do
            if (!Next(peer, m, "TestResult")) return 1;
        while (m.mt != "TestResult");
        test.push_back(Ms(start, Clock::now()));

        pbx::ImText text;
        text.data = "round " + std::to_string(round);
        text.sender = member;
        start = Clock::now();
        peer.Signal(own, pbx::TextSig(text));
        for (unsigned got = 0; got < members - 1;) {
            if (!Next(peer, m, "relayed text")) return 1;
            if (m.FtyMember("im_message", "data") != text.data) continue;
            if (!got++) first.push_back(Ms(start, Clock::now()));
        }
        last.push_back(Ms(start, Clock::now()));
    }
    printf("relay members=%u rounds=%u%s%s%s\n", members, rounds, Figures("first_ms", first).c_str(),
           Figures("last_ms", last).c_str(), Figures("test_rtt_ms", test).c_str());
    return 0;
}

// The app session that posts, on the peer's loop.
struct Poster : bench::AppSession::Owner {
    void LoggedIn(bench::AppSession&) override { loggedIn = true; }
    void Received(bench::AppSession&, const rapidjson::Document& message) override
    {
        if (!strcmp(bench::Mt(message), "PostResult")) result = Clock::now(), results++;
    }
    void Failed(bench::AppSession&, const std::string& why) override { failed = why; }

    bool loggedIn = false;
    unsigned results = 0;
    Clock::time_point result;
    std::string failed;
};

int Badges(pbx::PeerConfig config, const std::string& prefix, unsigned users, unsigned perUser,
           const std::string& topic, unsigned rounds)
{
    pbx::PbxPeer peer(config);
    if (!peer.Connect()) return Fail(peer.error);
    std::set<long long> calls;
    std::string notify;
    for (unsigned u = 1; u <= users; u++) {
        std::string user = prefix + std::to_string(u);
        notify += (u > 1 ? ",\"" : "\"") + user + "\"";
        for (unsigned i = 0; i < perUser; i++) {
            pbx::Setup s;
            s.cg = user;
            s.cd = "messages";
            s.subscribe = true;
            calls.insert(peer.Present(s));
        }
    }
    pbx::PbxMessage m;
    auto startup = Clock::now();
    for (size_t counted = 0; counted < calls.size();) {
        if (!Next(peer, m, "first badges")) return 1;
        counted += m.Badge() >= 0;
    }
    double counting = Ms(startup, Clock::now());

    Poster poster;
    bench::LoginData login{config.domain, config.password, "badge-poster", bench::GuidOf(1), "Poster",
                           "{\"apps\":[{\"name\":\"" + topic + "\",\"dn\":\"Bench topic\"}]}"};
    auto at = bench::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), (unsigned short)atoi(config.port.c_str()));
    auto session = std::make_shared<bench::AppSession>(peer.io, at, config.path, login, poster);
    session->Start();
    while (!poster.loggedIn && poster.failed.empty()) {
        peer.io.restart();
        peer.io.run_one_for(std::chrono::seconds(10));
    }
    if (!poster.loggedIn) return Fail("poster: " + poster.failed);

    std::vector<double> last, posted, driverCpu;
    for (unsigned round = 0; round < rounds; round++) {
        unsigned results = poster.results;
        std::clock_t cpu = std::clock();
        auto start = Clock::now();
        session->Send("{\"mt\":\"Post\",\"topic\":\"" + topic + "\",\"text\":\"Badges " + std::to_string(round) +
                      "\",\"notify\":[" + notify + "]}");
        for (size_t got = 0; got < calls.size();) {
            if (!Next(peer, m, "badge")) return 1;
            got += m.Badge() >= 0 && calls.count(m.call);
        }
        last.push_back(Ms(start, Clock::now()));
        driverCpu.push_back(1000.0 * double(std::clock() - cpu) / CLOCKS_PER_SEC);
        while (poster.results == results) {
            peer.io.restart();
            peer.io.run_one_for(std::chrono::seconds(10));
            if (!poster.failed.empty()) return Fail("poster: " + poster.failed);
        }
        posted.push_back(Ms(start, poster.result));
    }
    session->Close();
    printf("badges subscriptions=%zu users=%u rounds=%u first_count_all_ms=%.1f%s%s%s\n", calls.size(), users, rounds,
           counting, Figures("last_badge_ms", last).c_str(), Figures("post_result_ms", posted).c_str(),
           Figures("driver_cpu_ms", driverCpu).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc >= 2 ? argv[1] : "";
    pbx::PeerConfig config;
    config.port = Option(argc, argv, "port", "");
    config.path = Option(argc, argv, "path", "/messages");
    config.domain = Option(argc, argv, "domain", "");
    config.password = Option(argc, argv, "password", "");
    config.sip = Option(argc, argv, "sip", "bench-pbx");
    unsigned rounds = (unsigned)atoi(Option(argc, argv, "rounds", "5"));
    if (!config.port.empty() && rounds) {
        if (!strcmp(mode, "relay")) {
            unsigned members = (unsigned)atoi(Option(argc, argv, "members", "50"));
            if (members >= 2)
                return Relay(config, Option(argc, argv, "group", ""), Option(argc, argv, "member", ""), members, rounds);
        }
        if (!strcmp(mode, "badges")) {
            unsigned users = (unsigned)atoi(Option(argc, argv, "users", "5"));
            unsigned perUser = (unsigned)atoi(Option(argc, argv, "per-user", "1000"));
            if (users && perUser)
                return Badges(config, Option(argc, argv, "prefix", "badge-user-"), users, perUser,
                              Option(argc, argv, "topic", "bench-topic"), rounds);
        }
    }
    fprintf(stderr, "usage: bench_pbx relay|badges --port=PORT [options] (see bench/bench_pbx.cpp)\n");
    return 2;
}
