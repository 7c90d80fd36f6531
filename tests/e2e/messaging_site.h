// One installation shared by the tests of a file (the real platform-webserver
// and messages on a database of their own), and the people who use it: app
// clients logged in with the topics of their login, who post, read and
// receive live updates. Each test makes up its own people and topics, so
// tests of one file share the service without seeing each other's data.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/app_client.h"

namespace e2e {

// A JSON object written member by member: Str() quotes, Num() and Raw() do not.
class Json {
public:
    Json& Str(const std::string& name, const std::string& value)
    {
        return Raw(name, Quote(value));
    }
    Json& Num(const std::string& name, unsigned long long value) { return Raw(name, std::to_string(value)); }
    Json& Bool(const std::string& name, bool value) { return Raw(name, value ? "true" : "false"); }
    Json& Strs(const std::string& name, const std::vector<std::string>& values)
    {
        std::string a = "[";
        for (size_t i = 0; i < values.size(); i++) a += (i ? "," : "") + Quote(values[i]);
        return Raw(name, a + "]");
    }
    Json& Raw(const std::string& name, const std::string& json)
    {
        text += (text.empty() ? "" : ",") + Quote(name) + ":" + json;
        return *this;
    }
    std::string Text() const { return "{" + text + "}"; }
    // The members alone, to add to another object's text.
    const std::string& Members() const { return text; }
    operator std::string() const { return Text(); }

private:
    std::string text;
};

// Someone logged in: an app client with the SIP name it logged in as.
class Person : public AppClient {
public:
    Person(int port, const std::string& password, const std::string& domain, const std::string& sip)
        : AppClient(port, password, domain), sip(sip)
    {
    }

    // Sends `request` and collects what comes up to and including the
    // message `resultMt`; the result is the last element. An empty vector
    // when the answer did not come (the failure is recorded).
    std::vector<JsonMessage> Ask(const std::string& request, const std::string& resultMt, int timeoutMs = 20000)
    {
        std::vector<JsonMessage> got;
        if (!Exchange(request, resultMt, got, timeoutMs)) {
            ADD_FAILURE() << sip << ": no " << resultMt << " for " << request.substr(0, 300) << " ("
                          << ws.error.message() << "), got:\n"
                          << Texts(got).substr(0, 3000);
            got.clear();
        }
        return got;
    }
    // The reply alone; messages before it are kept in `before`.
    JsonMessage Reply(const std::string& request, const std::string& resultMt)
    {
        std::vector<JsonMessage> got = Ask(request, resultMt);
        if (got.empty()) return JsonMessage();
        JsonMessage reply = std::move(got.back());
        got.pop_back();
        for (auto& m : got) before.push_back(std::move(m));
        return reply;
    }
    // Messages pushed to this session up to the answer of a "Test" sent now:
    // what the service had for it before it took the test.
    std::vector<JsonMessage> Pushed()
    {
        std::vector<JsonMessage> got = Ask("{\"mt\":\"Test\",\"src\":\"probe\"}", "TestResult");
        if (!got.empty()) got.pop_back();
        std::vector<JsonMessage> all = std::move(before);
        before.clear();
        for (auto& m : got) all.push_back(std::move(m));
        return all;
    }
    // Waits for the next pushed message whose "mt" is `mt` (others are kept).
    bool WaitFor(const std::string& mt, JsonMessage& out, int timeoutMs = 10000)
    {
        for (size_t i = 0; i < before.size(); i++)
            if (before[i].Mt() == mt) {
                out = std::move(before[i]);
                before.erase(before.begin() + long(i));
                return true;
            }
        for (;;) {
            JsonMessage m;
            if (!Receive(m, timeoutMs)) return false;
            if (m.Mt() == mt) {
                out = std::move(m);
                return true;
            }
            before.push_back(std::move(m));
        }
    }

    std::string sip;
    // Messages that came before a reply and were not asked for.
    std::vector<JsonMessage> before;
};

// The service and the stand-in, started once for all tests of a file.
class MessagingSite {
public:
    static constexpr const char* domain = "e2e.test";
    static constexpr const char* password = "e2e-app-secret";

    MessagingSite() : web(site.socketPath)
    {
        if (!web.port) return;
        service = std::make_unique<Service>(site.socketPath, site.db, "",
                                            std::vector<std::string>{std::string("--app-domain=") + domain,
                                                                     std::string("--app-password=") + password});
        ready = web.Registered("/messages", {"http path /messages", "websocket path /messages"}, 0, 60000);
    }
    // Stops both; under AddressSanitizer an exit code of 0 also says nothing leaked.
    void Stop()
    {
        if (service) {
            EXPECT_EQ(service->process.Stop(), 0) << service->process.Output();
            ExpectNoCrashReport(service->process);
        }
        EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
    }
    std::string Output() { return web.process.Output() + (service ? service->process.Output() : ""); }

    // `sip` logged in with the topics of `topics` (name and title) besides
    // the personal one and with the groups of `groups`; `appobj` makes the
    // login that of an app object, and one ending in "~admin" an administrator's.
    std::unique_ptr<Person> Login(const std::string& sip, const std::vector<std::string>& topics = {},
                                  const std::string& appobj = "", const std::vector<std::string>& groups = {})
    {
        auto person = std::make_unique<Person>(web.port, password, domain, sip);
        LoginRequest r = UserLogin(sip, "Dn of " + sip);
        for (auto& t : topics) r.apps.push_back({t, "Title of " + t});
        r.appsGiven = true;
        r.groups = groups;
        r.groupsGiven = !groups.empty();
        if (!appobj.empty()) r.appobj = appobj;
        EXPECT_TRUE(person->ConnectAndLogin(r)) << sip;
        return person;
    }

    std::string Value(const std::string& sql) { return site.db.Value(sql); }
    void Exec(const std::string& sql) { EXPECT_TRUE(site.db.Query(sql)) << sql << ": " << site.db.Error(); }

    Installation site;
    StandIn web;
    std::unique_ptr<Service> service;
    bool ready = false;
};

// A test file's fixture: one installation for all its tests, started by the
// first and stopped after the last; each test names its people, topics and
// groups with a prefix of its own, so tests share the service without seeing
// each other's data.
class MessagingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { site = new MessagingSite; }
    static void TearDownTestSuite()
    {
        site->Stop();
        delete site;
        site = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(site->ready) << site->Output();
        static int tests;
        prefix = "t" + std::to_string(++tests) + "-";
    }

    // A name of this test's own.
    std::string N(const std::string& name) const { return prefix + name; }
    // Logged in as this test's `sip` with this test's topics and groups;
    // `appobj` (the test's own name too) makes an app object's login, and
    // one ending in "~admin" an administrator's.
    std::unique_ptr<Person> Login(const std::string& sip, const std::vector<std::string>& topics = {},
                                  const std::string& appobj = "", const std::vector<std::string>& groups = {})
    {
        std::vector<std::string> ts, gs;
        for (auto& t : topics) ts.push_back(N(t));
        for (auto& g : groups) gs.push_back(N(g));
        return site->Login(N(sip), ts, appobj.empty() ? "" : N(appobj), gs);
    }
    // A group `grp` titled `dn` below the app object of `svc`, made by this
    // test's ann, with bob and carl; its SIP name.
    std::string Crew(Person& svc, const std::string& grp, const std::string& dn)
    {
        JsonMessage g = svc.Reply(Request("WriteGroup", Json().Str("grp", grp).Str("dn", dn).Str("user", N("ann"))),
                                  "WriteGroupResult");
        for (auto& m : {N("bob"), N("carl")})
            svc.Reply(Json().Str("mt", "WriteMember").Num("grp", g.Number("id")).Str("member", m), "WriteMemberResult");
        return g.String("sip");
    }
    // Each request is answered by its "...Result" (without "error" when
    // `quietly`; else whatever it says) and the session goes on.
    static void ExpectEachAnswered(Person& p, const std::vector<std::string>& requests, bool quietly = false)
    {
        for (const std::string& request : requests) {
            JsonMessage m;
            ASSERT_TRUE(m.Parse(request)) << request;
            std::vector<JsonMessage> got = p.Ask(request, m.Mt() + "Result");
            ASSERT_FALSE(got.empty()) << request;
            if (quietly) {
                EXPECT_FALSE(got.back().Has("error")) << got.back().text;
            }
        }
    }
    std::string Value(const std::string& sql) { return site->Value(sql); }

    // {"mt": mt, members...}
    static std::string Request(const std::string& mt, const Json& members)
    {
        return "{\"mt\":" + Quote(mt) + (members.Members().empty() ? "" : ",") + members.Members() + "}";
    }
    // The messages `rowMt` that come before the reply to `mt`.
    static std::vector<JsonMessage> Rows(Person& p, const std::string& mt, const Json& members,
                                         const std::string& rowMt)
    {
        std::vector<JsonMessage> got = p.Ask(Request(mt, members), mt + "Result"), rows;
        for (auto& m : got)
            if (m.Mt() == rowMt) rows.push_back(std::move(m));
        return rows;
    }

    inline static MessagingSite* site = nullptr;
    std::string prefix;
};

// "name=value" of each member of `names` (strings as they are, numbers in
// decimal, "-" when missing), to compare a row in one line.
inline std::string Fields(const JsonMessage& m, std::initializer_list<const char*> names, unsigned short base = 0)
{
    std::string out;
    for (const char* n : names) {
        bool present = false;
        unsigned long long number = m.Number(n, base, &present);
        std::string v = m.IsString(n, base) ? m.String(n, base) : present ? std::to_string(number) : m.True(n, base) ? "true" : "-";
        out += (out.empty() ? "" : " ") + std::string(n) + "=" + v;
    }
    return out;
}

// Names and texts that break naive quoting in SQL, JSON, LIKE patterns and UTF-8 handling.
inline const std::vector<std::string> nastyStrings = {
    "it's \"quoted\" \\ back\\slash",
    "50% of _all_ 100%_",
    "'); DROP TABLE messages; --",
    "emoji \xF0\x9F\x98\x80 clef \xF0\x9D\x84\x9E and \xE2\x82\xAC",
    "line\nbreak\ttab",
};

// A quoted SQL string literal.
inline std::string SqlText(const std::string& s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

}  // namespace e2e
