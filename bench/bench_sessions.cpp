// App websocket sessions under load, through platform-webserver: logins per
// second, and the resident memory that idle logged-in sessions cost the
// process that serves them. scripts/bench-sessions.sh runs both against
// messages and, as the peer, against web-echo-plugin.
//
//   bench_sessions logins --port=PORT [--path=/messages] [--connections=16] [--seconds=10]
//                         [--prefix=user-] [--domain=example.local] [--password=kfo] [--echo]
//       every connection repeats: open a websocket, "AppChallenge", "AppLogin" as
//       PREFIX + a new number with three apps, "Test", close; prints
//       "logins=N seconds=S rate=R p50_ms=A p99_ms=B max_ms=C"
//   bench_sessions idle --port=PORT --pid=PID [--sessions=2000] [--parallel=16] [--settle=3]
//                       [--path=...] [--prefix=...] [--domain=...] [--password=...] [--echo]
//       reads VmRSS of PID, logs SESSIONS websockets in (PARALLEL at a time) and keeps
//       them open and idle, waits SETTLE seconds, reads VmRSS again; prints
//       "sessions=N before_kib=B after_kib=A per_session_kib=K", then closes them all
//
// With --echo the far end answers every message with itself: the same three
// messages go out, and each echo must equal what was sent.
#include <rapidjson/document.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench/app_session.h"
#include "bench/driver_options.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

using bench::Flag;
using bench::Percentile;

long RssKib(int pid)
{
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/status", pid);
    FILE* f = fopen(path, "re");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (fgets(line, sizeof(line), f))
        if (!strncmp(line, "VmRSS:", 6)) kib = strtol(line + 6, nullptr, 10);
    fclose(f);
    return kib;
}

// Three apps, so that the user initialisation handles three topics besides
// the personal one. Every user names the same three, as the members of one
// team would. Compact, as the digest covers the text the service re-encodes.
const char kInfo[] = "{\"apps\":[{\"name\":\"bench-topic-1\",\"dn\":\"Topic 1\"},"
                     "{\"name\":\"bench-topic-2\",\"dn\":\"Topic 2\"},"
                     "{\"name\":\"bench-topic-3\",\"dn\":\"Topic 3\"}]}";
const char kTest[] = "{\"mt\":\"Test\",\"src\":\"t\"}";

struct Config {
    tcp::endpoint at;
    std::string path;
    std::string prefix;
    std::string domain;
    std::string password;
    bool echo = false;
};

struct Failures {
    unsigned count = 0;
    void Report(unsigned long long n, const char* stage, const std::string& why)
    {
        // The first few say what went wrong; the rest only count.
        if (++count <= 10) fprintf(stderr, "bench_sessions: login %llu failed at %s: %s\n", n, stage, why.c_str());
    }
};

// One websocket from connect to close: the three-message exchange, then
// either a close (Finish) or an idle wait with a read outstanding, which also
// answers the server's pings and notices a close from the far end.
class Login : public std::enable_shared_from_this<Login> {
public:
    enum Stage { CONNECT, HANDSHAKE, CHALLENGE, LOGIN, TEST, IDLE, CLOSE, DONE, FAILED };
    using Done = std::function<void(Login&)>;

    Login(asio::io_context& io, const Config& config, Failures& failures, unsigned long long n, bool stayIdle,
          Done done)
        : ws(io), config(config), failures(failures), n(n), stayIdle(stayIdle), done(std::move(done))
    {
    }

    void Start()
    {
        started = Clock::now();
        auto self = shared_from_this();
        beast::get_lowest_layer(ws).async_connect(config.at, [self](beast::error_code ec) {
            if (ec) return self->Fail(ec.message());
            beast::get_lowest_layer(self->ws).socket().set_option(tcp::no_delay(true));
            self->stage = HANDSHAKE;
            self->ws.async_handshake("127.0.0.1", self->config.path, [self](beast::error_code ec) {
                if (ec) return self->Fail(ec.message());
                self->ws.text(true);
                self->Exchange(CHALLENGE, bench::kAppChallenge);
            });
        });
    }

    void Close()
    {
        if (stage != IDLE) return;
        stage = CLOSE;
        // The outstanding idle read ends with the close; its handler sees CLOSE.
        ws.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code ec) {
            if (ec) return self->Fail(ec.message());
            self->Finish(DONE);
        });
    }

    Stage stage = CONNECT;
    Clock::time_point started;
    double millis = 0;

private:
    static const char* Name(Stage s)
    {
        static const char* const names[] = {"connect", "handshake", "challenge", "login", "test",
                                            "idle",    "close",     "done",      "failed"};
        return names[s];
    }

    void Exchange(Stage next, std::string message)
    {
        stage = next;
        sent = std::move(message);
        auto self = shared_from_this();
        ws.async_write(asio::buffer(sent), [self](beast::error_code ec, size_t) {
            if (ec) return self->Fail(ec.message());
            self->buffer.clear();
            self->ws.async_read(self->buffer, [self](beast::error_code ec, size_t) {
                if (ec) return self->Fail(ec.message());
                self->Received(beast::buffers_to_string(self->buffer.data()));
            });
        });
    }

    void Received(const std::string& text)
    {
        if (config.echo) {
            if (text != sent) return Fail("echo differs: " + text);
        }
        else {
            rapidjson::Document doc;
            doc.Parse(text.c_str());
            const char* want = stage == CHALLENGE ? "AppChallengeResult" : stage == LOGIN ? "AppLoginResult" : "TestResult";
            if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("mt") || !doc["mt"].IsString() ||
                strcmp(doc["mt"].GetString(), want))
                return Fail("unexpected " + text);
            if (stage == CHALLENGE) {
                if (!doc.HasMember("challenge") || !doc["challenge"].IsString()) return Fail("no challenge: " + text);
                challenge = doc["challenge"].GetString();
            }
            if (stage == LOGIN && !(doc.HasMember("ok") && doc["ok"].IsBool() && doc["ok"].GetBool()))
                return Fail("refused: " + text);
            if (stage == TEST && !(doc.HasMember("src") && doc["src"].IsString() && !strcmp(doc["src"].GetString(), "t")))
                return Fail("wrong src: " + text);
        }
        if (stage == CHALLENGE) {
            // The echo has no challenge to give; a fixed one keeps the client's work the same.
            if (config.echo) challenge = "0123456789abcdef";
            return Exchange(LOGIN, LoginMessage());
        }
        if (stage == LOGIN) return Exchange(TEST, kTest);
        if (!stayIdle) {
            stage = IDLE;
            return Close();
        }
        stage = IDLE;
        millis = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        done(*this);
        buffer.clear();
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (self->stage != IDLE) return;  // our own close
            self->Fail(ec ? "closed while idle: " + ec.message() : "message while idle: " +
                                                                      beast::buffers_to_string(self->buffer.data()));
        });
    }

    std::string LoginMessage()
    {
        bench::LoginData d{config.domain, config.password, config.prefix + std::to_string(n), bench::GuidOf(n),
                           "Bench User " + std::to_string(n), kInfo};
        return bench::AppLoginMessage(d, challenge);
    }

    void Fail(const std::string& why)
    {
        if (stage == DONE || stage == FAILED) return;
        failures.Report(n, Name(stage), why);
        Finish(FAILED);
    }

    void Finish(Stage end)
    {
        bool wasIdle = stage == IDLE || stage == CLOSE;
        stage = end;
        millis = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        beast::error_code ignored;
        beast::get_lowest_layer(ws).socket().close(ignored);
        // An idle session has reported itself already.
        if (!(stayIdle && wasIdle)) done(*this);
    }

    websocket::stream<beast::tcp_stream> ws;
    const Config& config;
    Failures& failures;
    unsigned long long n;
    bool stayIdle;
    Done done;
    std::string sent;
    std::string challenge;
    beast::flat_buffer buffer;
};

bool ReadConfig(int argc, char** argv, Config& config)
{
    unsigned port = (unsigned)atoi(Option(argc, argv, "port", "0"));
    if (!port) return false;
    config.at = tcp::endpoint(asio::ip::make_address("127.0.0.1"), (unsigned short)port);
    config.path = Option(argc, argv, "path", "/messages");
    config.prefix = Option(argc, argv, "prefix", "user-");
    config.domain = Option(argc, argv, "domain", "example.local");
    config.password = Option(argc, argv, "password", "kfo");
    config.echo = Flag(argc, argv, "echo");
    return true;
}

int Logins(int argc, char** argv)
{
    Config config;
    unsigned connections = (unsigned)atoi(Option(argc, argv, "connections", "16"));
    double seconds = atof(Option(argc, argv, "seconds", "10"));
    if (!ReadConfig(argc, argv, config) || !connections || seconds <= 0) {
        fprintf(stderr, "bench_sessions logins: --port= is required; connections and seconds must be positive\n");
        return 2;
    }
    asio::io_context io(1);
    Failures failures;
    Clock::time_point start = Clock::now(), end = start + std::chrono::milliseconds((long long)(seconds * 1000));
    Clock::time_point last = start;
    unsigned long long next = 0, done = 0;
    std::vector<double> millis;
    Login::Done finished;
    auto launch = [&] { std::make_shared<Login>(io, config, failures, next++, false, finished)->Start(); };
    finished = [&](Login& login) {
        if (login.stage == Login::DONE) {
            done++;
            millis.push_back(login.millis);
            last = Clock::now();
        }
        // A connection that failed is not replaced: a broken service shows as a falling rate.
        if (login.stage == Login::DONE && Clock::now() < end) launch();
    };
    for (unsigned i = 0; i < connections; i++) launch();
    // The load ends by itself after its deadline; this bound only stops a stuck peer.
    io.run_for(std::chrono::milliseconds((long long)(seconds * 1000) + 30000));
    double took = std::chrono::duration<double>(last - start).count();
    unsigned long long stuck = next - done - failures.count;
    if (failures.count) fprintf(stderr, "bench_sessions logins: %u logins failed\n", failures.count);
    if (stuck) fprintf(stderr, "bench_sessions logins: %llu logins never finished\n", stuck);
    printf("logins=%llu seconds=%.2f rate=%.0f p50_ms=%.1f p99_ms=%.1f max_ms=%.1f\n", done, took,
           took > 0 ? done / took : 0.0, Percentile(millis, 0.5), Percentile(millis, 0.99),
           Percentile(millis, 1.0));
    return failures.count || stuck ? 1 : 0;
}

int Idle(int argc, char** argv)
{
    Config config;
    unsigned sessions = (unsigned)atoi(Option(argc, argv, "sessions", "2000"));
    unsigned parallel = (unsigned)atoi(Option(argc, argv, "parallel", "16"));
    double settle = atof(Option(argc, argv, "settle", "3"));
    int pid = atoi(Option(argc, argv, "pid", "0"));
    if (!ReadConfig(argc, argv, config) || !sessions || !parallel || pid <= 0) {
        fprintf(stderr, "bench_sessions idle: --port= and --pid= are required; sessions and parallel must be positive\n");
        return 2;
    }
    long before = RssKib(pid);
    if (before < 0) {
        fprintf(stderr, "bench_sessions idle: cannot read /proc/%d/status\n", pid);
        return 2;
    }
    asio::io_context io(1);
    Failures failures;
    std::vector<std::shared_ptr<Login>> open;
    unsigned long long next = 0;
    unsigned idle = 0;
    std::vector<double> millis;
    Clock::time_point start = Clock::now(), allIdle;
    Login::Done finished;
    auto launch = [&] {
        open.push_back(std::make_shared<Login>(io, config, failures, next++, true, finished));
        open.back()->Start();
    };
    unsigned failedLogins = 0;
    finished = [&](Login& login) {
        if (login.stage == Login::IDLE) {
            idle++;
            millis.push_back(login.millis);
        }
        else failedLogins++;
        if (next < sessions) launch();
        else if (idle + failedLogins == sessions) {
            allIdle = Clock::now();
            io.stop();
        }
    };
    for (unsigned i = 0; i < parallel && next < sessions; i++) launch();
    io.run_for(std::chrono::seconds(600));
    if (idle < sessions) {
        fprintf(stderr, "bench_sessions idle: only %u of %u sessions logged in (%u failed)\n", idle, sessions,
                failedLogins);
        return 1;
    }
    double loginSeconds = std::chrono::duration<double>(allIdle - start).count();
    // Idle means idle: nothing is sent while the process settles.
    io.restart();
    io.run_for(std::chrono::milliseconds((long long)(settle * 1000)));
    long after = RssKib(pid);
    unsigned lost = failures.count;
    printf("sessions=%u before_kib=%ld after_kib=%ld per_session_kib=%.1f login_seconds=%.1f p50_ms=%.1f "
           "p99_ms=%.1f lost_while_idle=%u\n",
           sessions, before, after, (after - before) / (double)sessions, loginSeconds, Percentile(millis, 0.5),
           Percentile(millis, 0.99), lost);
    fflush(stdout);
    for (auto& login : open) login->Close();
    io.restart();
    io.run_for(std::chrono::seconds(60));
    unsigned closed = 0;
    for (auto& login : open) closed += login->stage == Login::DONE;
    if (closed != sessions) fprintf(stderr, "bench_sessions idle: %u of %u sessions closed cleanly\n", closed, sessions);
    return lost || closed != sessions ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && !strcmp(argv[1], "logins")) return Logins(argc, argv);
    if (argc >= 2 && !strcmp(argv[1], "idle")) return Idle(argc, argv);
    fprintf(stderr, "usage: bench_sessions logins --port=PORT [--path=/messages] [--connections=16] [--seconds=10] "
                    "[--prefix=user-] [--domain=D] [--password=P] [--echo]\n"
                    "       bench_sessions idle --port=PORT --pid=PID [--sessions=2000] [--parallel=16] [--settle=3] "
                    "[...same]\n");
    return 2;
}
