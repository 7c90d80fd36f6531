#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "json/json_io.h"
#include "runtime/instance_log.h"
#include "tests/runtime/iomux_fixture.h"
#include "tests/support/digest.h"
#include "web/app_websocket.h"

namespace aws_test {

// The webserver's side of one websocket, driven by hand: the test decides
// when a receive gets its data, a send its result and the socket its end.
// Owned by the AppWebsocket once accepted, which deletes it on the end.
class FakeWebsocket : public IWebsocket {
public:
    FakeWebsocket(UWebsocket* user, bool sysClient = false) : user(user), sysClient(sysClient) {}
    const char* GetHost() override { return "host.example"; }
    const char* GetPath() override { return "/"; }
    const char* GetHeaderFieldValue(const char*) override { return nullptr; }
    bool IsSysClientAuthenticated() override { return sysClient; }
    bool IsLocalHost() override { return false; }
    bool IsEncryptedConnection() override { return false; }
    void Send(const void* data, size_t len, bool isText) override
    {
        EXPECT_LE(len, 65535u);
        sent.push_back((isText ? "" : "binary:") + std::string((const char*)data, len));
        unconfirmed++;
    }
    void Recv(void* buffer, size_t size) override
    {
        EXPECT_FALSE(recvPending) << "second receive";
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(size, 0u);
        recvPending = true;
    }
    void Close() override { closes++; }

    // False when no receive is outstanding: the message stays with the client.
    bool Deliver(const std::string& data, bool isText = true, bool isFragment = false)
    {
        if (!recvPending) return false;
        recvPending = false;
        char* b = (char*)user->WebsocketRecvBuffer(data.size());
        memcpy(b, data.data(), data.size());
        user->WebsocketRecvResult(this, b, data.size(), isText, isFragment);
        return true;
    }
    void ConfirmAll()
    {
        while (unconfirmed) {
            unconfirmed--;
            user->WebsocketSendResult(this);
        }
    }
    // The webserver reports the websocket closed; this object is deleted.
    void End(ws_close_reason_t reason = WSCR_NORMAL_CLOSE)
    {
        if (recvPending) user->WebsocketRecvCanceled(this, nullptr);
        recvPending = false;
        user->WebsocketCloseComplete(this, reason);
    }
    std::string Take()
    {
        if (sent.empty()) return "<nothing sent>";
        std::string s = sent.front();
        sent.erase(sent.begin());
        return s;
    }

    UWebsocket* user;
    bool sysClient;
    bool recvPending = false;
    unsigned unconfirmed = 0;
    unsigned closes = 0;
    std::vector<std::string> sent;
};

class TestLog : public IInstanceLog {
public:
    TestLog() : IInstanceLog(LOG_APP_WEBSOCKET) {}
};

// A subclass that records what the base hands it.
class TestSession : public AppWebsocket {
public:
    TestSession(IInstanceLog* log, JsonApiContext* context = nullptr, IWebserverPlugin* plugin = nullptr)
        : AppWebsocket(plugin, log, context)
    {
    }
    const char* AppWebsocketPassword() override { return password; }
    const char* AppWebsocketPassword(const char* domain) override
    {
        auto it = domainPasswords.find(domain);
        return it == domainPasswords.end() ? nullptr : it->second.c_str();
    }
    const char* AppWebsocketInstanceDomain() override { return "example.com"; }
    void AppWebsocketMessage(json_io&, unsigned short, const char* mt, const char* src) override
    {
        events.push_back(std::string("message ") + mt + (src ? std::string(" ") + src : ""));
        if (onMessage) onMessage();
        else AppWebsocketMessageComplete();
    }
    void AppWebsocketBinaryMessage(void* data, int len) override
    {
        events.push_back("binary " + std::string((char*)data, len));
    }
    void AppWebsocketAppInfo(const char*, json_io& doc, unsigned short obj) override
    {
        doc.add_bool(obj, "presence", true);
    }
    const char* AppWebsocketDeviceAppType(const char*) override { return "app-type"; }
    void AppWebsocketLogin(json_io&, unsigned short) override { events.push_back("async login"); }
    bool AppWebsocketConnectComplete(json_io& msg, unsigned short info) override
    {
        events.push_back(info == json_io::NONE ? "connected" : std::string("connected ") + msg.get_string(info, "k"));
        return connectCompletes;
    }
    void AppWebsocketClosed() override
    {
        events.push_back("closed");
        if (onClosed) onClosed();
    }
    void AppWebsocketSendResult() override { sendResults++; }
    const char* AppWebsocketBuildString() override { return "77"; }

    const char* password = "pw";
    std::map<std::string, std::string> domainPasswords;
    bool connectCompletes = true;
    std::vector<std::string> events;
    unsigned sendResults = 0;
    std::function<void()> onMessage, onClosed;
};

using harness::Sha256Hex;

// An AppLogin of app "app1", guid "g1", whose digest the given password
// makes for the challenge; info goes out as given and is hashed as hashedInfo.
inline std::string AppLogin(const std::string& sip, const std::string& dn, const std::string& domain,
                            const std::string& challenge, const std::string& password, const std::string& info = "",
                            const std::string& hashedInfo = "")
{
    std::string hashed = hashedInfo.empty() ? info : hashedInfo;
    std::string digest = Sha256Hex("app1:" + domain + ":" + sip + ":g1:" + dn + ":" + (info.empty() ? "" : hashed + ":") +
                                   challenge + ":" + password);
    return R"({"mt":"AppLogin","app":"app1","domain":")" + domain + R"(","sip":")" + sip + R"(","guid":"g1","dn":")" +
           dn + R"(","digest":")" + digest + "\"" + (info.empty() ? "" : R"(,"info":)" + info) + "}";
}

// The members of a sent JSON object; containers as their compact text.
inline std::map<std::string, std::string> Members(const std::string& text)
{
    std::map<std::string, std::string> m;
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back(0);
    json_io j(buf.data());
    if (!j.decode() || j.get_object(json_io::NONE, nullptr) != 0) {
        ADD_FAILURE() << "not a JSON object: " << text;
        return m;
    }
    unsigned short last = 0;
    unsigned char type, flags;
    const char* name;
    const char* value;
    for (unsigned short i; (i = j.get_next(0, last, type, flags, name, value)) != json_io::NONE;) {
        if (type == json_io::VALUE) {
            m[name] = value;
            continue;
        }
        std::vector<char> out(text.size() * 6 + 16);
        char* o = out.data();
        j.write(i, o);
        m[name] = std::string(out.data(), o);
    }
    return m;
}

// A session accepted on a fake websocket, with the log captured.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { Open(); }
    void TearDown() override
    {
        if (ws) ws->End();
        delete session;
    }
    void Open(bool sysClient = false, JsonApiContext* context = nullptr)
    {
        session = new TestSession(&log, context);
        ws = new FakeWebsocket(session, sysClient);
        session->WebsocketAcceptComplete(ws);
        ASSERT_TRUE(ws->recvPending);
    }
    void End()
    {
        ws->End();
        ws = nullptr;
    }
    // Client-side request; fails the test when the session is not reading.
    void Send(const std::string& text) { EXPECT_TRUE(ws->Deliver(text)) << "not reading: " << text; }
    std::map<std::string, std::string> Answer(const std::string& text)
    {
        Send(text);
        return Members(ws->Take());
    }
    std::string Challenge() { return Answer(R"({"mt":"AppChallenge"})")["challenge"]; }
    // A login of alice (see AppLogin), for a new challenge unless one is given.
    std::string LoginText(const std::string& password, const std::string& domain = "example.com",
                          const std::string& info = "", const std::string& hashedInfo = "", std::string challenge = "")
    {
        if (challenge.empty()) challenge = Challenge();
        return AppLogin("alice", "Alice", domain, challenge, password, info, hashedInfo);
    }
    std::map<std::string, std::string> Login(const std::string& password, const std::string& domain = "example.com",
                                             const std::string& info = "", const std::string& hashedInfo = "",
                                             const std::string& challenge = "")
    {
        return Answer(LoginText(password, domain, info, hashedInfo, challenge));
    }
    bool Closing() const { return ws->closes > 0; }

    CaptureDebug capture;
    TestLog log;
    TestSession* session = nullptr;
    FakeWebsocket* ws = nullptr;
};

}  // namespace aws_test
