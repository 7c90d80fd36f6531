// Distributing one message update to 10000 registered message filters (1000
// logged-in sessions of 10 filters each), driven through the loop: 1000
// deferred calls of 10 filter tests each. Each filter is the shape a session
// gets by default: a nested OR over five of 100 topics. "none": the message
// matches no filter; "1%": it matches one filter in each of 100 sessions,
// which encode an "Add" and send it (the sends are confirmed after the
// update is through, outside the measured time). Peers in the same run: a
// plain loop calling MessageFilter::check on the same 10000 filters, and the
// same number of loop passes running an empty deferred call, which is the
// share of the loop itself.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "json/json_io.h"
#include "messages/message_content.h"
#include "messages/updates/message_update_filter.h"
#include "messages/updates/message_update.h"
#include "runtime/instance_log.h"
#include "runtime/io_mux.h"
#include "web/app_updates.h"
#include "web/app_updates_filter.h"
#include "web/app_updates_session.h"

namespace {

const unsigned SESSIONS = 1000;
const unsigned FILTERS_PER_SESSION = 10;
const unsigned TOPICS = 100;

// The webserver's side: sends are counted and confirmed by the benchmark.
class QuietWebsocket : public IWebsocket {
public:
    explicit QuietWebsocket(UWebsocket* user) : user(user) {}
    const char* GetHost() override { return "h"; }
    const char* GetPath() override { return "/"; }
    const char* GetHeaderFieldValue(const char*) override { return nullptr; }
    bool IsSysClientAuthenticated() override { return false; }
    bool IsLocalHost() override { return false; }
    bool IsEncryptedConnection() override { return false; }
    void Send(const void* data, size_t len, bool) override
    {
        last.assign((const char*)data, len);
        unconfirmed++;
    }
    void Recv(void*, size_t) override {}
    void Close() override {}
    void Deliver(std::string text)
    {
        char* b = (char*)user->WebsocketRecvBuffer(text.size());
        memcpy(b, text.data(), text.size());
        user->WebsocketRecvResult(this, b, text.size(), true, false);
    }
    void ConfirmAll()
    {
        while (unconfirmed) {
            unconfirmed--;
            user->WebsocketSendResult(this);
        }
    }
    UWebsocket* user;
    std::string last;
    unsigned unconfirmed = 0;
};

class BenchSession : public AppUpdatesSession {
public:
    BenchSession(AppUpdates* updates, IInstanceLog* log) : AppUpdatesSession(updates, nullptr, log, nullptr) {}
    const char* AppWebsocketPassword() override { return "pw"; }
    void AppWebsocketMessage(json_io&, unsigned short, const char*, const char*) override
    {
        AppWebsocketMessageComplete();
    }
    void AppWebsocketClosed() override {}
};

std::string Hex(const std::string& text)
{
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256((const unsigned char*)text.data(), text.size(), md);
    char hex[65];
    for (int i = 0; i < 32; i++) snprintf(hex + 2 * i, 3, "%02x", md[i]);
    return hex;
}

// Filter n watches topic n % 100 and four topics nobody posts to, so topic 0
// is watched by the first filter of every tenth session: 100 filters.
std::string Topic(unsigned n, unsigned t)
{
    if (!t) return "topic" + std::to_string(n % TOPICS) + "@example.com";
    return "quiet" + std::to_string(n * 4 + t) + "@example.com";
}

// 1000 sessions, logged in, with 10 filters each.
class Setup {
public:
    Setup() : mux(true, 0), hub(&mux)
    {
        for (unsigned s = 0; s < SESSIONS; s++) {
            BenchSession* session = new BenchSession(&hub, &log);
            QuietWebsocket* ws = new QuietWebsocket(session);
            session->WebsocketAcceptComplete(ws);
            ws->Deliver(R"({"mt":"AppChallenge"})");
            std::string challenge = ws->last.substr(ws->last.find("\"challenge\":\"") + 13, 16);
            ws->Deliver(R"({"mt":"AppLogin","app":"a","domain":"d","sip":"u","guid":"g","dn":"U","digest":")" +
                        Hex("a:d:u:g:U:" + challenge + ":pw") + "\"}");
            ws->ConfirmAll();
            sessions.emplace_back(session);
            sockets.push_back(ws);
            for (unsigned f = 0; f < FILTERS_PER_SESSION; f++) {
                unsigned n = s * FILTERS_PER_SESSION + f;
                MessagesFilter* filter =
                    new MessagesFilter(&group, session, ("src" + std::to_string(f)).c_str(), false, 0);
                MessageFilter* any = filter->AddFilter(MessageFilter::OR);
                for (unsigned t = 0; t < 5; t++) any->AddTopic(Topic(n, t).c_str());
                filters.push_back(filter);
            }
        }
    }
    ~Setup()
    {
        for (QuietWebsocket* ws : sockets) ws->user->WebsocketCloseComplete(ws, WSCR_NORMAL_CLOSE);
        sessions.clear();
    }
    void ConfirmAll()
    {
        for (QuietWebsocket* ws : sockets) ws->ConfirmAll();
    }

    IInstanceLog log;
    IoMux mux;
    AppUpdates hub;
    AppUpdatesFilters group;
    std::vector<std::unique_ptr<BenchSession>> sessions;
    std::vector<QuietWebsocket*> sockets;
    std::vector<MessageFilter*> filters;
};

Setup* shared = nullptr;

Setup& Shared()
{
    if (!shared) shared = new Setup();
    return *shared;
}

MessageContent* Message(const char* topic)
{
    return new MessageContent(0, 42, 0, "alice@example.com", topic, "Topic", "a message of ordinary length, with text",
                              nullptr);
}

void DistributeThroughLoop(benchmark::State& state)
{
    Setup& s = Shared();
    const char* topic = state.range(0) ? "topic0@example.com" : "nobody@example.com";
    unsigned long long passes = 0, sends = 0;
    for (auto _ : state) {
        s.hub.StartUpdate(new MessagesUpdateMessage(&s.group, 0, nullptr, 0, Message(topic), false));
        while (s.hub.PendingUpdates()) {
            s.mux.RunOnce(0);
            passes++;
        }
        state.PauseTiming();
        for (QuietWebsocket* ws : s.sockets) sends += ws->unconfirmed;
        s.ConfirmAll();
        state.ResumeTiming();
    }
    state.counters["passes/update"] = benchmark::Counter((double)passes / state.iterations());
    state.counters["sends/update"] = benchmark::Counter((double)sends / state.iterations());
    state.SetItemsProcessed(state.iterations() * SESSIONS * FILTERS_PER_SESSION);
}

void CheckLoop(benchmark::State& state)
{
    Setup& s = Shared();
    const char* topic = state.range(0) ? "topic0@example.com" : "nobody@example.com";
    std::unique_ptr<MessageContent> message(Message(topic));
    unsigned matches = 0;
    for (auto _ : state) {
        for (MessageFilter* f : s.filters) matches += f->check(message.get());
        benchmark::DoNotOptimize(matches);
    }
    state.counters["matches/update"] = benchmark::Counter((double)matches / state.iterations());
    state.SetItemsProcessed(state.iterations() * SESSIONS * FILTERS_PER_SESSION);
}

// One empty deferred call per pass, as many passes as one distribution takes.
class Again : public UIoExec {
public:
    explicit Again(IIoMux* mux) : mux(mux) {}
    void IoExec(void*) override
    {
        if (--left) mux->SetExec(this, nullptr);
    }
    IIoMux* mux;
    unsigned left = 0;
};

void LoopPassesAlone(benchmark::State& state)
{
    Setup& s = Shared();
    Again again(&s.mux);
    const unsigned passes = SESSIONS * FILTERS_PER_SESSION / AppUpdates::FILTERS_PER_CALL;
    for (auto _ : state) {
        again.left = passes;
        s.mux.SetExec(&again, nullptr);
        while (again.left) s.mux.RunOnce(0);
    }
    state.SetItemsProcessed(state.iterations() * SESSIONS * FILTERS_PER_SESSION);
}

}  // namespace

BENCHMARK(DistributeThroughLoop)->ArgName("match_1pct")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(CheckLoop)->ArgName("match_1pct")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(LoopPassesAlone)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete shared;
    return 0;
}
