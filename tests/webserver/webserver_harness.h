// The real platform-webserver in a child process, a fake plugin speaking raw frames on its
// Unix socket, and curl or a raw socket as the HTTP client.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/webserver/extended_header.h"
#include "platform/webserver/frame.h"
#include "platform/webserver/plugin_protocol.h"
#include "tests/support/child_process.h"
#include "tests/support/http_clients.h"
#include "tests/support/stand_in.h"

namespace wst {

using namespace wsp;
using namespace harness;

// The directory of a test's stand-in, made before the stand-in starts in it.
struct WebserverDir {
    TempDir dir;
    std::string socketPath = dir / "plugins.sock";
};

// platform-webserver on free loopback ports; fake plugins connect to `socketPath`.
class Webserver : public WebserverDir, public StandIn {
public:
    explicit Webserver(std::vector<std::string> extra = {}) : StandIn(socketPath, std::move(extra)) {}
    // SIGTERM; the exit status, which under the sanitizers also tells about leaks.
    int Stop() { return process.Stop(); }
    bool Alive() { return process.Running(); }
};

struct Frame {
    uint32_t connection = 0;
    uint16_t type = 0;
    uint32_t general = 0;
    std::string body;
    ExtendedHeader Header() const
    {
        ExtendedHeader h;
        std::string error = h.Decode(body);
        EXPECT_EQ(error, "");
        return h;
    }
};

class FakePlugin {
public:
    // Connects and announces the web root; `wide` gets the answer's mode.
    explicit FakePlugin(const std::string& socketPath, const std::string& webRoot = "/app")
    {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof(a.sun_path), "%s", socketPath.c_str());
        if (connect(fd, (sockaddr*)&a, sizeof(a)) < 0) ADD_FAILURE() << "plugin cannot connect";
        Send(kLinkConnectionId, WSM_SET_PLUGINS_WEB_ROOT, 1, webRoot + std::string(1, '\0'));
        Frame f = Next();
        EXPECT_EQ(f.type, WSM_SET_PLUGINS_WEB_ROOT_RESULT);
        wide = f.general != 0;
    }
    ~FakePlugin() { close(fd); }

    void SendRaw(const std::string& bytes)
    {
        size_t at = 0;
        while (at < bytes.size()) {
            ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) return;
            at += size_t(n);
        }
    }
    void Send(uint32_t connection, uint16_t type, uint32_t general, const std::string& body = std::string())
    {
        SendRaw(EncodeFrame(connection, type, general, body));
    }
    void Websocket(uint32_t connection, uint16_t sub, uint16_t flags, const std::string& body = std::string())
    {
        Send(connection, WSM_WEBSOCKET_MESSAGE, uint32_t(flags) << 16 | sub, body);
    }
    // Registers a path and returns the general purpose of the answer.
    uint32_t Register(const std::string& path, uint16_t type = WSM_REGISTER)
    {
        ExtendedHeaderWriter w;
        w.String(DDT_PATH_TO_REGISTER, path);
        std::string body;
        w.Encode(body);
        Send(kLinkConnectionId, type, 0, body);
        Frame f = Next();
        EXPECT_EQ(f.type, WSM_REGISTER_RESULT);
        return f.general;
    }

    bool ReadExactly(void* buffer, size_t size, int timeoutMs)
    {
        size_t at = 0;
        while (at < size) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) return false;
            ssize_t n = read(fd, (char*)buffer + at, size - at);
            if (n <= 0) return false;
            at += size_t(n);
        }
        return true;
    }
    bool Read(Frame& f, int timeoutMs = 10000)
    {
        unsigned char h[kFrameHeaderSize];
        if (!ReadExactly(h, sizeof(h), timeoutMs)) return false;
        FrameHeader fh = DecodeFrameHeader(h);
        f.connection = fh.connection, f.type = fh.type, f.general = fh.general;
        f.body.assign(fh.size, '\0');
        return fh.size == 0 || ReadExactly(&f.body[0], fh.size, timeoutMs);
    }
    Frame Next(int timeoutMs = 10000)
    {
        Frame f;
        if (!Read(f, timeoutMs)) ADD_FAILURE() << "no frame from the webserver";
        return f;
    }
    // True when the webserver closed this plugin's socket.
    bool ClosedByServer(int timeoutMs = 10000)
    {
        for (;;) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) return false;
            char buffer[4096];
            ssize_t n = read(fd, buffer, sizeof(buffer));
            if (n <= 0) return true;
        }
    }

    // Answers with meta data, the given body parts, and the handler-closed exchange.
    void Respond(uint32_t connection, const std::string& meta, const std::vector<std::string>& parts)
    {
        Send(connection, WSM_SEND_META_DATA, 0, meta);
        for (auto& p : parts) Send(connection, WSM_SEND, 0, p);
        for (size_t i = 0; i < parts.size(); i++) EXPECT_EQ(Next().type, WSM_SEND_RESULT);
        Send(connection, WSM_MESSAGE_HANDLER_CLOSED, 0);
        Frame done = Next();
        EXPECT_EQ(done.type, WSM_SHUTDOWN_COMPLETE);
        EXPECT_EQ(done.connection, connection);
    }

    int fd = -1;
    bool wide = false;
};

inline std::string Meta(uint16_t type, uint16_t flags, long long size, bool chunked = false)
{
    ExtendedHeaderWriter w;
    if (size >= 0) w.U64(DDT_DATA_SIZE, uint64_t(size));
    if (chunked) w.Flag(DDT_CHUNK_ENCODED_TRANSFER);
    std::string info;
    PutU16(info, type);
    PutU16(info, flags);
    w.Raw(DDT_TRANSFER_INFO, info);
    std::string body;
    w.Encode(body);
    return body;
}

}  // namespace wst
