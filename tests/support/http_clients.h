// HTTP clients of a test: curl in the background for what browsers send,
// and a raw socket for what curl would not send or to leave halfway.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace harness {

struct HttpResponse {
    int exit = -1;  // curl's exit code
    int status = 0;
    std::map<std::string, std::string> fields;  // lower-case names, the last response's
    std::string body;
    std::string Field(const std::string& name) const
    {
        auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    }
};

// curl in the background; its answer is read from files when it ends.
class Curl {
public:
    Curl(const TempDir& dir, const std::vector<std::string>& args)
    {
        static int counter;
        int n = counter++;
        headers = dir / ("curl-" + std::to_string(n) + ".head");
        body = dir / ("curl-" + std::to_string(n) + ".body");
        std::vector<std::string> all = {"/usr/bin/curl", "-sS", "--max-time", "30", "-D", headers, "-o", body};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Curl()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    HttpResponse Finish(int timeoutMs = 40000)
    {
        HttpResponse r;
        int status = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pid_t ended;
        while ((ended = waitpid(pid, &status, WNOHANG)) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << "curl did not end";
                return r;
            }
            struct timespec ms = {0, 2000000};
            nanosleep(&ms, nullptr);
        }
        pid = -1;
        if (ended < 0) return r;
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.body = ReadFile(body);
        // Interim answers (100 Continue) and followed redirects come first; the last block counts.
        std::string head = ReadFile(headers);
        size_t start = head.rfind("HTTP/");
        if (start == std::string::npos) return r;
        head = head.substr(start);
        r.status = atoi(head.c_str() + head.find(' ') + 1);
        size_t at = head.find("\r\n");
        while (at != std::string::npos && at + 2 < head.size()) {
            size_t next = head.find("\r\n", at + 2);
            std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2);
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                for (auto& c : name) c = char(tolower(c));
                size_t value = line.find_first_not_of(' ', colon + 1);
                r.fields[name] = value == std::string::npos ? "" : line.substr(value);
            }
            at = next;
        }
        return r;
    }

private:
    std::string headers, body;
    pid_t pid = -1;
};

inline HttpResponse Http(const TempDir& dir, const std::vector<std::string>& args)
{
    return Curl(dir, args).Finish();
}

// One client connection written and read by hand, to send what curl would
// not or to leave in the middle of a transfer.
class RawClient {
public:
    explicit RawClient(int port)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = connect(fd, (sockaddr*)&a, sizeof(a)) == 0;
    }
    ~RawClient() { close(fd); }
    bool Write(const std::string& data)
    {
        return connected && write(fd, data.data(), data.size()) == ssize_t(data.size());
    }
    // At least `count` bytes, or what came until the server closed or stayed silent.
    std::string Read(size_t count = ~size_t(0), int timeoutMs = 10000)
    {
        std::string got;
        char buffer[65536];
        while (got.size() < count) {
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) != 1) break;
            ssize_t n = read(fd, buffer, sizeof(buffer));
            if (n <= 0) break;
            got.append(buffer, size_t(n));
        }
        return got;
    }
    int fd;
    bool connected;
};

// Writes `request` as it is on one connection and returns everything the
// server sends until it closes (or stays silent for the time limit).
inline std::string RawExchange(int port, const std::string& request, int timeoutMs = 10000)
{
    RawClient c(port);
    return c.Write(request) ? c.Read(~size_t(0), timeoutMs) : "";
}

}  // namespace harness
