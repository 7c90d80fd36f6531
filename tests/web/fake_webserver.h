#pragma once

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "net/socket.h"
#include "runtime/instance_log.h"
#include "runtime/io_mux.h"
#include "tests/runtime/iomux_fixture.h"
#include "tests/support/child_process.h"
#include "web/webserver_plugin.h"
#include "web/webserver_post.h"
#include "web/websocket.h"

// The webserver's end of the plugin link, on a real Unix socket. It never
// blocks: every wait runs the service's loop until the expected bytes are
// there, and gives up after a few seconds of real time.

namespace web_test {

const unsigned LINK = 0xFFFFFF00;

// Big-endian numbers as the wire carries them.
inline std::string Be16(unsigned v) { return std::string{(char)(v >> 8), (char)v}; }
inline std::string Be32(unsigned v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }
inline std::string Be64(unsigned long long v) { return Be32((unsigned)(v >> 32)) + Be32((unsigned)v); }
inline unsigned Get16(const std::string& s, size_t at) { return (unsigned char)s[at] << 8 | (unsigned char)s[at + 1]; }
inline unsigned Get32(const std::string& s, size_t at) { return Get16(s, at) << 16 | Get16(s, at + 2); }

// Extended headers as the test writes them, item by item, in any order.
struct Eh {
    std::string items;
    Eh& Raw(int type, const std::string& data)
    {
        items += (char)type + Be16((unsigned)data.size()) + data;
        return *this;
    }
    Eh& Str(int type, const std::string& s) { return Raw(type, s + std::string(1, '\0')); }
    Eh& U32(int type, unsigned v) { return Raw(type, Be32(v)); }
    Eh& U64(int type, unsigned long long v) { return Raw(type, Be64(v)); }
    std::string Body() const { return Be32((unsigned)items.size()) + items; }
};

// A received extended header: item type to data. Fails the test when malformed.
inline std::map<int, std::string> ParseEh(const std::string& body)
{
    std::map<int, std::string> items;
    if (body.empty()) return items;
    EXPECT_GE(body.size(), 4u);
    if (body.size() < 4) return items;
    EXPECT_EQ(Get32(body, 0), body.size() - 4);
    size_t at = 4;
    while (at + 3 <= body.size()) {
        int type = (unsigned char)body[at];
        size_t n = Get16(body, at + 1);
        EXPECT_LE(at + 3 + n, body.size());
        EXPECT_EQ(items.count(type), 0u) << "item " << type << " twice";
        items[type] = body.substr(at + 3, n);
        at += 3 + n;
    }
    EXPECT_EQ(at, body.size());
    return items;
}

// The string of a string item, without its NUL.
inline std::string ItemString(const std::map<int, std::string>& items, int type)
{
    auto it = items.find(type);
    if (it == items.end() || it->second.empty()) return "<missing>";
    EXPECT_EQ(it->second.back(), '\0');
    return it->second.substr(0, it->second.size() - 1);
}

struct Frame {
    unsigned id = 0;
    unsigned type = 0;
    unsigned gp = 0;
    std::string body;
};

class FakeWebserver {
public:
    FakeWebserver(IoMux* mux, std::string path) : mux(mux), path(std::move(path)) { Listen(); }
    ~FakeWebserver()
    {
        Drop();
        close(listenFd);
        unlink(path.c_str());
    }

    void Listen()
    {
        listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        strncpy(a.sun_path, path.c_str(), sizeof(a.sun_path) - 1);
        unlink(path.c_str());
        EXPECT_EQ(bind(listenFd, (sockaddr*)&a, sizeof(a)), 0);
        EXPECT_EQ(listen(listenFd, 8), 0);
    }

    // Runs the loop until `done` holds; false after the real-time limit.
    bool Pump(const std::function<bool()>& done, int limitMs = 3000)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            mux->RunOnce(1);
            Fill();
        }
        return true;
    }
    bool Accept()
    {
        return Pump([this] {
            if (conn < 0) conn = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (conn >= 0) {
                inbox.clear();
                eof = false;
            }
            return conn >= 0;
        });
    }
    // The next frame from the link; a frame of type 0xFFFF when none comes.
    Frame Next()
    {
        Frame f;
        f.type = 0xFFFF;
        Pump([&] { return Parse(f) || eof; });
        return f;
    }
    Frame Expect(unsigned type)
    {
        Frame f = Next();
        EXPECT_EQ(f.type, type) << "frame of id " << std::hex << f.id << " gp " << f.gp;
        return f;
    }
    // True when the link closes its end.
    bool WaitClosed()
    {
        return Pump([this] {
            Frame f;
            while (Parse(f)) continue;  // what came before the end is of no interest here
            return eof;
        });
    }
    void Send(unsigned id, unsigned type, unsigned gp, const std::string& body = std::string())
    {
        SendRaw(Be32(id) + Be16(type) + Be32(gp) + Be16((unsigned)body.size()) + body);
    }
    void SendRaw(const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = write(conn, bytes.data() + at, bytes.size() - at);
            if (n > 0) at += n;
            // A full socket empties as the link reads.
            else if (n < 0 && errno == EAGAIN) mux->RunOnce(1);
            else break;
        }
    }
    // Sends an OPTIONS request for a registered path that the link has never
    // seen and waits for its refusal, so that everything the link sent before
    // it has arrived; returns what came in between.
    std::vector<Frame> Sync(const std::string& unknownPath = "/not-registered")
    {
        Send(syncId, 24, 0, Eh().Str(0, "/").Str(1, unknownPath).Body());
        std::vector<Frame> before;
        for (;;) {
            Frame f = Next();
            if (f.type == 0xFFFF) {
                ADD_FAILURE() << "no answer to the sync request";
                break;
            }
            if (f.id == syncId && f.type == 11) break;
            before.push_back(f);
        }
        syncId++;
        return before;
    }
    void Drop()
    {
        if (conn >= 0) close(conn);
        conn = -1;
    }
    // Reads the link's web root and its registrations after a connect; the
    // registered full paths in the order they came.
    std::vector<std::string> Handshake(size_t registrations)
    {
        Frame root = Expect(31);
        EXPECT_EQ(root.id, LINK);
        EXPECT_EQ(root.gp, 1u);
        webRoot = root.body;
        std::vector<std::string> paths;
        for (size_t i = 0; i < registrations; i++) {
            Frame r = Next();
            EXPECT_TRUE(r.type == 1 || r.type == 3 || r.type == 4) << r.type;
            paths.push_back(std::to_string(r.type) + " " + ItemString(ParseEh(r.body), 7));
        }
        return paths;
    }

    IoMux* mux;
    std::string path;
    int listenFd = -1;
    int conn = -1;
    bool eof = false;
    std::string inbox;
    std::string webRoot;
    unsigned syncId = 0x7000;

private:
    void Fill()
    {
        if (conn < 0) return;
        char buf[65536];
        for (;;) {
            ssize_t n = read(conn, buf, sizeof(buf));
            if (n > 0) inbox.append(buf, n);
            else {
                if (n == 0) eof = true;
                return;
            }
        }
    }
    bool Parse(Frame& f)
    {
        if (inbox.size() < 12) return false;
        size_t size = Get16(inbox, 10);
        if (inbox.size() < 12 + size) return false;
        f.id = Get32(inbox, 0);
        f.type = Get16(inbox, 4);
        f.gp = Get32(inbox, 6);
        f.body = inbox.substr(12, size);
        inbox.erase(0, 12 + size);
        return true;
    }
};

// An owner that records what the link tells it and decides offers through
// the test's functions (or refuses, as an owner without them would).
class Owner : public UWebserverPlugin {
public:
    void WebserverPluginClose(IWebserverPlugin* plugin, wsp_close_reason_t reason, bool lastUser) override
    {
        events.push_back("close " + std::to_string(reason) + (lastUser ? " last" : ""));
        if (onClose) onClose(plugin, lastUser);
    }
    void WebserverPluginHttpListenResult(IWebserverPlugin* plugin, ws_request_type_t type, char* resource,
                                         const char* registered, unsigned long long size) override
    {
        events.push_back("http " + std::to_string(type) + " " + resource + " [" + registered + "] " +
                         std::to_string(size));
        if (onHttp) onHttp(plugin, resource);
        else UWebserverPlugin::WebserverPluginHttpListenResult(plugin, type, resource, registered, size);
    }
    void WebserverPluginWebsocketListenResult(IWebserverPlugin* plugin, const char* path, const char* registered,
                                              const char* host) override
    {
        events.push_back(std::string("websocket ") + path + " [" + registered + "] " + host);
        if (onWebsocket) onWebsocket(plugin);
        else UWebserverPlugin::WebserverPluginWebsocketListenResult(plugin, path, registered, host);
    }
    void WebserverPluginConnected() override { events.push_back("connected"); }
    void WebserverPluginRegisterPathResult(IWebserverPlugin*, const char* path, wsp_path_type_t type) override
    {
        events.push_back("registered " + std::to_string(type) + " " + path);
    }
    bool Has(const std::string& e) const
    {
        for (const std::string& x : events)
            if (x == e) return true;
        return false;
    }

    std::vector<std::string> events;
    std::function<void(IWebserverPlugin*, char*)> onHttp;
    std::function<void(IWebserverPlugin*)> onWebsocket;
    std::function<void(IWebserverPlugin*, bool)> onClose;
};

// The link's logging identity with both webserver bits on.
class TestLog : public IInstanceLog {
public:
    TestLog() : IInstanceLog(LOG_WEBSERVER_PLUGIN | LOG_WEBSERVER_PLUGIN_LINK) {}
};

// A loop test with a link of its own, created by the test, to a fake
// webserver on a socket in a temporary directory; the log is captured.
class LinkTest : public LoopTest {
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        local = CreateLocalSocketProvider();
        provider = CreateWebserverPluginProvider();
    }
    void TearDown() override
    {
        delete link;
        delete ws;
        delete provider;
        delete local;
        LoopTest::TearDown();
    }
    void Listen()
    {
        delete ws;
        ws = new FakeWebserver(mux, socketPath);
    }
    IWebserverPlugin* Create(const char* root)
    {
        link = provider->CreateWebserverPlugin(mux, local, &owner, socketPath.c_str(), root, &log);
        return link;
    }
    // Takes the link's connection, answers its registrations and its web
    // root (wide mode), and waits until it has read the answers.
    void Connect(size_t registrations)
    {
        ASSERT_TRUE(ws->Accept());
        ws->Handshake(registrations);
        for (size_t i = 0; i < registrations; i++) ws->Send(LINK, 2, 0);
        ws->Send(LINK, 34, 1);
        ws->Sync();
    }

    CaptureDebug capture;
    TestLog log;
    harness::TempDir dir;
    std::string socketPath = dir / "webserver";
    ISocketProvider* local = nullptr;
    IWebserverPluginProvider* provider = nullptr;
    IWebserverPlugin* link = nullptr;
    FakeWebserver* ws = nullptr;
    Owner owner;
};

// Handler users that record what they are told and delete themselves on close.
class PostUser : public UWebserverPost {
public:
    void WebserverPostRequestAcceptComplete(IWebserverPost* p) override
    {
        post = p;
        p->Recv(buffer, 6);
    }
    void WebserverPostRecvResult(IWebserverPost*, void* b, size_t len) override
    {
        received.push_back(std::string((char*)b, len));
    }
    void* WebserverPostRecvBuffer(size_t) override { return spare; }
    void WebserverPostRecvCanceled(IWebserverPost*, void* b) override
    {
        received.push_back(b == buffer ? "<canceled>" : "<canceled: wrong buffer>");
    }
    void WebserverPostCloseComplete(IWebserverPost* p) override
    {
        received.push_back("<closed>");
        delete p;
    }
    IWebserverPost* post = nullptr;
    char buffer[6];
    char spare[100];
    std::vector<std::string> received;
};

class WsUser : public UWebsocket {
public:
    void WebsocketAcceptComplete(IWebsocket* w) override
    {
        socket = w;
        events.push_back("accept");
        if (onAccept) onAccept(w);
    }
    void WebsocketSendResult(IWebsocket*) override { events.push_back("sent"); }
    void WebsocketRecvResult(IWebsocket*, void* b, size_t len, bool text, bool fragment) override
    {
        events.push_back(std::string(text ? "text " : "binary ") + (fragment ? "fragment " : "") +
                         std::string((char*)b, len));
    }
    void* WebsocketRecvBuffer(size_t) override { return spare; }
    void WebsocketRecvCanceled(IWebsocket*, void* b) override
    {
        events.push_back(b == buffer ? "recv canceled" : "recv canceled: wrong buffer");
    }
    void WebsocketCloseComplete(IWebsocket* w, ws_close_reason_t reason) override
    {
        events.push_back("closed " + std::to_string(reason));
        delete w;
    }
    bool Closed() const { return !events.empty() && events.back().compare(0, 6, "closed") == 0; }
    IWebsocket* socket = nullptr;
    char buffer[10];
    char spare[100];
    std::vector<std::string> events;
    std::function<void(IWebsocket*)> onAccept;
};

}  // namespace web_test
