#pragma once

// Logged-in sessions on hand-driven websockets around one update hub, on a
// loop whose passes the test runs one at a time.

#include <string>
#include <vector>

#include "json/json_io.h"
#include "tests/runtime/iomux_fixture.h"
#include "tests/websocket/test_session.h"
#include "web/app_updates.h"
#include "web/app_updates_filter.h"
#include "web/app_updates_session.h"

namespace updates_test {

using aws_test::FakeWebsocket;
using aws_test::Members;
using Strings = std::vector<std::string>;

class Session : public AppUpdatesSession {
public:
    Session(AppUpdates* updates, IInstanceLog* log) : AppUpdatesSession(updates, nullptr, log, nullptr) {}
    const char* AppWebsocketPassword() override { return "pw"; }
    void AppWebsocketMessage(json_io&, unsigned short, const char*, const char*) override {}
    void AppWebsocketClosed() override {}
    void ResponseSent() override { responsesSent++; }
    unsigned responsesSent = 0;
};

// One update {"src","u"} on the session.
inline void SendUpdate(AppUpdatesSession* s, const char* src, const std::string& u)
{
    char buffer[256];
    json_io msg(buffer);
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "src", src);
    msg.add_string(base, "u", u.c_str());
    s->SendUpdate(msg, buffer);
}

inline void LogIn(Session* s, FakeWebsocket* ws)
{
    s->WebsocketAcceptComplete(ws);
    ws->Deliver(R"({"mt":"AppChallenge"})");
    ws->Deliver(aws_test::AppLogin("u", "U", "d", Members(ws->Take())["challenge"], "pw"));
    ws->ConfirmAll();
    ws->sent.clear();
    ASSERT_TRUE(s->AppWebsocketLoggedIn());
}

class TestUpdate : public AppUpdate {
public:
    TestUpdate(AppUpdatesFilters* group, const char* label, Strings& gone, const char* user)
        : AppUpdate(group, user), label(label), gone(gone)
    {
    }
    ~TestUpdate() override { gone.push_back(label); }
    unsigned long long Gate() const override { return gate; }
    std::string label;
    Strings& gone;
    unsigned long long gate = ~0ULL;
};

// Records each test as "filter:update" and passes everything; with `sends`
// it sends what passes, else it only records.
class TestFilter : public AppUpdatesFilter<TestUpdate> {
public:
    TestFilter(AppUpdatesFilters* group, AppUpdatesSession* s, const char* name, const char* user, Strings& tested)
        : AppUpdatesFilter<TestUpdate>(group, s, name, user), tested(tested)
    {
    }
    bool Test(TestUpdate* update) override
    {
        tested.push_back(std::string(Name() ? Name() : "") + ":" + update->label);
        return passes;
    }
    void Send(TestUpdate* update) override
    {
        if (sends) SendUpdate(Session(), Name(), update->label);
    }
    unsigned long long Gate() override { return gate; }
    Strings& tested;
    bool passes = true;
    bool sends = true;
    unsigned long long gate = ~0ULL;
};

class UpdatesTest : public LoopTest {
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        hub = new AppUpdates(mux);
    }
    void TearDown() override
    {
        while (!open.empty()) Close(open.back().first);
        delete hub;
        LoopTest::TearDown();
    }
    Session* NewSession()
    {
        Session* s = new Session(hub, &log);
        open.push_back({s, new FakeWebsocket(s)});
        LogIn(s, open.back().second);
        return s;
    }
    FakeWebsocket* Ws(Session* s)
    {
        for (auto& o : open)
            if (o.first == s) return o.second;
        return nullptr;
    }
    // The websocket ends; the owner deletes the session then, or later.
    void Close(Session* s, bool deleteNow = true)
    {
        for (auto it = open.begin(); it != open.end(); ++it) {
            if (it->first != s) continue;
            it->second->End();
            open.erase(it);
            if (deleteNow) delete s;
            return;
        }
    }
    TestFilter* Filter(Session* s, const std::string& name, const char* user = nullptr, bool sends = true)
    {
        TestFilter* f = new TestFilter(&group, s, name.c_str(), user, tested);
        f->sends = sends;
        return f;
    }
    void Start(const char* label, const char* user = nullptr, unsigned long long gate = ~0ULL)
    {
        auto* update = new TestUpdate(&group, label, gone, user);
        update->gate = gate;
        hub->StartUpdate(update);
    }
    unsigned Drain()
    {
        unsigned passes = 0;
        for (; hub->PendingUpdates(); passes++) mux->RunOnce(0);
        return passes;
    }
    // One loop pass; the filters tested in it.
    Strings Pass()
    {
        tested.clear();
        mux->RunOnce(0);
        return tested;
    }
    // What a session's websocket was given, as "src:u".
    Strings Received(Session* s)
    {
        Strings got;
        for (const std::string& text : Ws(s)->sent) got.push_back(Members(text)["src"] + ":" + Members(text)["u"]);
        return got;
    }
    void ConfirmOne(Session* s)
    {
        ASSERT_GT(Ws(s)->unconfirmed, 0u);
        Ws(s)->unconfirmed--;
        s->WebsocketSendResult(Ws(s));
    }

    IInstanceLog log;
    AppUpdates* hub = nullptr;
    AppUpdatesFilters group;
    std::vector<std::pair<Session*, FakeWebsocket*>> open;
    Strings tested, gone;
};

}  // namespace updates_test
