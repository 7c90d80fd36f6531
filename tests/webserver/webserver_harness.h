// The real platform-webserver in a child process, a fake plugin speaking raw frames on its
// Unix socket, and curl as the HTTP client.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/webserver/extended_header.h"
#include "platform/webserver/frame.h"
#include "platform/webserver/plugin_protocol.h"

namespace wst {

using namespace wsp;

class Webserver {
public:
    explicit Webserver(std::vector<std::string> extra = {})
    {
        char tmpl[] = "/tmp/webserver-test-XXXXXX";
        dir = mkdtemp(tmpl);
        socketPath = dir + "/plugins.sock";
        std::vector<std::string> args = {PLATFORM_WEBSERVER_BIN, "--http=127.0.0.1:0", "--plugins=" + socketPath};
        args.insert(args.end(), extra.begin(), extra.end());
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) < 0) abort();
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
        // Its lines up to the one that names the HTTP port.
        std::string line;
        pollfd p = {out, POLLIN, 0};
        for (char c; port == 0 && poll(&p, 1, 20000) == 1 && read(out, &c, 1) == 1;) {
            if (c != '\n') {
                line += c;
                continue;
            }
            lines.push_back(line);
            if (line.find("listening on http://") != std::string::npos) port = atoi(line.c_str() + line.rfind(':') + 1);
            line.clear();
        }
    }
    ~Webserver()
    {
        if (pid > 0) Stop();
        close(out);
        std::filesystem::remove_all(dir);
    }
    // SIGTERM; returns the exit status, which under the sanitizers also tells about leaks.
    int Stop()
    {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    bool Alive() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    std::string dir, socketPath;
    int port = 0;
    pid_t pid = -1;
    int out = -1;
    std::vector<std::string> lines;
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

// curl in the background, so that the test can play the plugin meanwhile.
class Curl {
public:
    explicit Curl(const std::string& args)
    {
        std::string cmd = "curl -sS -i --max-time 20 " + args + " 2>/dev/null; echo \"~exit=$?\"";
        pipe = popen(cmd.c_str(), "r");
    }
    ~Curl()
    {
        if (pipe) Finish();
    }
    struct Response {
        int status = 0;
        std::map<std::string, std::string> fields;  // lower-case names
        std::string body;
        int exit = -1;
    };
    Response Finish()
    {
        std::string all;
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) all.append(buffer, n);
        pclose(pipe);
        pipe = nullptr;
        Response r;
        size_t tail = all.rfind("~exit=");
        if (tail != std::string::npos) r.exit = atoi(all.c_str() + tail + 6), all.resize(tail);
        // Skip interim answers such as 100 Continue.
        for (;;) {
            size_t end = all.find("\r\n\r\n");
            if (all.compare(0, 5, "HTTP/") || end == std::string::npos) {
                r.body = all;
                return r;
            }
            std::string head = all.substr(0, end);
            all = all.substr(end + 4);
            r.status = atoi(head.c_str() + 9);
            if (r.status >= 200) {
                r.fields.clear();
                size_t at = head.find("\r\n");
                while (at != std::string::npos) {
                    size_t next = head.find("\r\n", at + 2);
                    std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
                    size_t colon = line.find(':');
                    if (colon != std::string::npos) {
                        std::string name = line.substr(0, colon);
                        for (auto& c : name) c = char(tolower(c));
                        r.fields[name] = line.substr(line.find_first_not_of(' ', colon + 1));
                    }
                    at = next;
                }
                r.body = all;
                return r;
            }
        }
    }

private:
    FILE* pipe = nullptr;
};

// A client that writes exactly the bytes given, for requests curl would not send.
class RawClient {
public:
    RawClient(int port, const std::string& request)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, (sockaddr*)&a, sizeof(a)) < 0) ADD_FAILURE() << "cannot connect";
        if (write(fd, request.data(), request.size()) != ssize_t(request.size())) ADD_FAILURE() << "short write";
    }
    ~RawClient() { close(fd); }
    int fd;
};

}  // namespace wst
