// The whole installation in test processes: the real platform-webserver, the
// real messages on its own fresh database of the test cluster, the echo
// plugin, curl as the HTTP client and a Beast websocket client. Every wait is
// bounded; output of every child is collected by a thread, so that no child
// ever blocks on a full pipe.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <zlib.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pg_test.h"

namespace e2e {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

inline std::string DigestHex(const std::string& data, const EVP_MD* type)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, type, nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned i = 0; i < n; i++) hex += digits[md[i] >> 4], hex += digits[md[i] & 15];
    return hex;
}

inline std::string Md5Hex(const std::string& data)
{
    return DigestHex(data, EVP_md5());
}

// "" when the bytes are not a complete gzip stream.
inline std::string Gunzip(const std::string& data)
{
    z_stream z = {};
    if (inflateInit2(&z, 15 + 16) != Z_OK) return "";
    std::string out;
    char buffer[65536];
    z.next_in = (Bytef*)data.data();
    z.avail_in = (uInt)data.size();
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = (Bytef*)buffer;
        z.avail_out = sizeof(buffer);
        r = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof(buffer) - z.avail_out);
    }
    inflateEnd(&z);
    return r == Z_STREAM_END ? out : "";
}

// Bytes that differ from position to position, so that a shifted or
// repeated block shows.
inline std::string Pattern(size_t len, unsigned seed = 0)
{
    std::string s(len, '\0');
    for (size_t i = 0; i < len; i++) s[i] = char((i * 7 + i / 251 + seed) & 0xFF);
    return s;
}

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/messages-e2e-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

// A child process with standard output and standard error in one pipe, read
// line by line by a thread of its own. With `ownDescriptorsOnly` it inherits
// none of this process's other descriptors (client sockets of the test), so
// that its descriptors are its own.
class Process {
public:
    explicit Process(std::vector<std::string> args, bool ownDescriptorsOnly = false) : name(args[0])
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) < 0) abort();
        // Built before the fork: other threads run, so the child must not allocate.
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            if (ownDescriptorsOnly) close_range(3, ~0U, 0);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out = fds[0];
        reader = std::thread([this] { Read(); });
    }
    ~Process()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        reader.join();
        close(out);
    }

    // The number of lines so far, to wait for lines after this point.
    size_t Mark()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines.size();
    }
    // Waits for a line at or after `from` that contains `text`.
    bool WaitFor(const std::string& text, size_t from = 0, int timeoutMs = 20000)
    {
        std::unique_lock<std::mutex> lock(mutex);
        size_t at = from;
        return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (; at < lines.size(); at++)
                if (lines[at].find(text) != std::string::npos) return true;
            return ended;
        }) && at < lines.size();
    }
    size_t Count(const std::string& text, size_t from = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (size_t i = from; i < lines.size(); i++) n += lines[i].find(text) != std::string::npos;
        return n;
    }
    // The first line at or after `from` that contains `text`, or "".
    std::string Line(const std::string& text, size_t from = 0)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = from; i < lines.size(); i++)
            if (lines[i].find(text) != std::string::npos) return lines[i];
        return "";
    }
    std::string Output()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string all;
        for (auto& l : lines) all += "  | " + l + "\n";
        return name + " said:\n" + all;
    }
    // Sends `sig` and waits for the end: the exit code, 128 + signal, or -1
    // when the process outlived the timeout (it is killed then).
    int Stop(int sig = SIGTERM, int timeoutMs = 20000)
    {
        if (pid <= 0) return endedByItself;
        kill(pid, sig);
        int status = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pid_t r;
        while ((r = waitpid(pid, &status, WNOHANG)) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                pid = -1;
                return -1;
            }
            struct timespec ms = {0, 2000000};
            nanosleep(&ms, nullptr);
        }
        pid = -1;
        return r > 0 ? Decode(status) : -1;
    }
    // A process found ended here keeps its status for Stop().
    bool Running()
    {
        int status = 0;
        if (pid <= 0) return false;
        if (waitpid(pid, &status, WNOHANG) == 0) return true;
        endedByItself = Decode(status);
        pid = -1;
        return false;
    }

    std::string name;
    pid_t pid = -1;

private:
    static int Decode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }
    void Read()
    {
        std::string partial;
        char buffer[4096];
        ssize_t n;
        while ((n = read(out, buffer, sizeof(buffer))) > 0) {
            partial.append(buffer, size_t(n));
            std::lock_guard<std::mutex> lock(mutex);
            size_t nl;
            while ((nl = partial.find('\n')) != std::string::npos) {
                lines.push_back(partial.substr(0, nl));
                partial.erase(0, nl + 1);
            }
            changed.notify_all();
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!partial.empty()) lines.push_back(partial);
        ended = true;
        changed.notify_all();
    }

    int out = -1;
    std::thread reader;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    bool ended = false;
    int endedByItself = -1;
};

// No sanitizer report and no failed assertion in a process's output so far.
inline void ExpectNoCrashReport(Process& process)
{
    for (std::string marker : {"ASSERT:", "AddressSanitizer", "runtime error:", "LeakSanitizer"})
        EXPECT_EQ(process.Count(marker), 0u) << marker << "\n" << process.Output();
}

// platform-webserver on a free loopback port; plugins connect to `socketPath`.
class StandIn {
public:
    explicit StandIn(const std::string& socketPath)
        : process({PLATFORM_WEBSERVER_BIN, "--http=127.0.0.1:0", "--plugins=" + socketPath})
    {
        const std::string marker = "listening on http://127.0.0.1:";
        if (!process.WaitFor(marker)) return;
        std::string out = process.Output();
        port = atoi(out.c_str() + out.find(marker) + marker.size());
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    // A plugin's web root has registered all of `paths` ("http /messages") since `from`.
    bool Registered(const std::string& root, const std::vector<std::string>& paths, size_t from = 0,
                    int timeoutMs = 20000)
    {
        if (!process.WaitFor("plugin " + root + " connected", from, timeoutMs)) return false;
        for (auto& p : paths)
            if (!process.WaitFor("plugin " + root + ": register " + p + ": ok", from, timeoutMs)) return false;
        return true;
    }

    Process process;
    int port = 0;
};

// messages with one instance under /messages, on a database of its own;
// `extra` arguments (such as --app-domain= or --app-password=) follow the others.
class Service {
public:
    Service(const std::string& socketPath, PgTestDatabase& db, const std::string& dbAddress = "",
            const std::vector<std::string>& extra = {})
        : Service(socketPath, dbAddress.empty() ? std::string(db.Address()) : dbAddress, db.Name(), db.User(),
                  db.Password(), extra)
    {
    }
    // On any database, such as the one of a private cluster.
    Service(const std::string& socketPath, const std::string& dbAddress, const std::string& dbName,
            const std::string& dbUser, const std::string& dbPassword, const std::vector<std::string>& extra)
        : process(Arguments(socketPath, dbAddress, dbName, dbUser, dbPassword, extra))
    {
    }
    Process process;

private:
    static std::vector<std::string> Arguments(const std::string& socketPath, const std::string& dbAddress,
                                              const std::string& dbName, const std::string& dbUser,
                                              const std::string& dbPassword, const std::vector<std::string>& extra)
    {
        std::vector<std::string> args = {MESSAGES_BIN, "--app-name=e2e", "--webserver=" + socketPath,
                                         "--webserver-path=/messages", "--db-host=" + dbAddress,
                                         "--db-name=" + dbName, "--db-user=" + dbUser, "--db-password=" + dbPassword};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
};

class EchoPlugin {
public:
    explicit EchoPlugin(const std::string& socketPath, const std::string& path = "/echo")
        : process({ECHO_PLUGIN_BIN, "--webserver=" + socketPath, "--path=" + path})
    {
    }
    Process process;
};

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

// A websocket client whose every operation has a time limit.
class WsClient {
public:
    using Error = boost::system::error_code;

    WsClient() : ws(io) {}

    // Upgrades; on a refusal `status` holds the HTTP status of the answer.
    bool Connect(int port, const std::string& path, int timeoutMs = 10000)
    {
        namespace asio = boost::asio;
        auto& tcp = boost::beast::get_lowest_layer(ws);
        error = Run(
            [&](auto done) {
                tcp.async_connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), uint16_t(port)),
                                  done);
            },
            timeoutMs);
        if (error) return false;
        error = Run([&](auto done) { ws.async_handshake(response, "127.0.0.1", path, done); }, timeoutMs);
        status = response.result_int();
        return !error;
    }
    // One message, written as frames of at most `frameSize` bytes.
    bool Write(const std::string& data, bool text, size_t frameSize = 1 << 20, int timeoutMs = 10000)
    {
        ws.text(text);
        size_t at = 0;
        do {
            size_t n = std::min(frameSize, data.size() - at);
            bool last = at + n == data.size();
            error = Run([&](auto done) { ws.async_write_some(last, boost::asio::buffer(data.data() + at, n), done); },
                        timeoutMs);
            if (error) return false;
            at += n;
        } while (at < data.size());
        return true;
    }
    // One whole message; false with `error` (websocket::error::closed when the
    // server closed, its reason in `ws.reason()`).
    bool Read(std::string& message, bool* text = nullptr, int timeoutMs = 10000)
    {
        boost::beast::flat_buffer buffer;
        error = Run([&](auto done) { ws.async_read(buffer, done); }, timeoutMs);
        if (error) return false;
        message = boost::beast::buffers_to_string(buffer.data());
        if (text) *text = ws.got_text();
        return true;
    }
    bool Close(int timeoutMs = 10000)
    {
        error = Run([&](auto done) { ws.async_close(boost::beast::websocket::close_code::normal, done); }, timeoutMs);
        return !error;
    }

    boost::asio::io_context io;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws;
    boost::beast::websocket::response_type response;
    Error error;
    unsigned status = 0;

private:
    // Starts one operation and runs the loop until it completes; after the
    // time limit the connection is closed and the operation ends with timed_out.
    template <class Start> Error Run(Start start, int timeoutMs)
    {
        // Shared with the handler, which may outlive this call when the operation is abandoned.
        auto outcome = std::make_shared<std::pair<bool, Error>>(false, Error());
        start([outcome](Error e, auto&&...) { *outcome = {true, e}; });
        io.restart();
        io.run_for(std::chrono::milliseconds(timeoutMs));
        if (outcome->first) return outcome->second;
        boost::beast::get_lowest_layer(ws).close();
        io.restart();
        io.run_for(std::chrono::milliseconds(2000));
        return boost::asio::error::timed_out;
    }
};

// A TCP relay in front of PostgreSQL that holds every connection unanswered
// until it is opened, so that the service's start-up waits at a point the test chooses.
class DatabaseGate {
public:
    DatabaseGate(const std::string& host, int targetPort) : host(host), targetPort(targetPort)
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address("127.0.0.1", 0);
        socklen_t len = sizeof(a);
        if (bind(listener, (sockaddr*)&a, sizeof(a)) < 0 || listen(listener, 16) < 0 ||
            getsockname(listener, (sockaddr*)&a, &len) < 0)
            ADD_FAILURE() << "gate cannot listen";
        port = ntohs(a.sin_port);
        if (pipe2(wake, O_CLOEXEC) < 0) abort();
        relay = std::thread([this] { Run(); });
    }
    ~DatabaseGate()
    {
        stop = true;
        Wake();
        relay.join();
        for (auto& p : pairs) close(p.first), close(p.second);
        close(listener);
        close(wake[0]);
        close(wake[1]);
    }
    void Open()
    {
        open = true;
        Wake();
    }
    // Ends every relayed connection, as a lost database server would, and
    // takes no new one (they wait unanswered as before Open()); returns once
    // the relay has dropped them all.
    void Cut()
    {
        std::unique_lock<std::mutex> lock(cutMutex);
        open = false;
        cutRequested = true;
        Wake();
        cutDone.wait(lock, [this] { return !cutRequested; });
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port); }

    int port = 0;
    std::atomic<int> accepted{0};

private:
    static sockaddr_in Address(const std::string& host, int port)
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, host.c_str(), &a.sin_addr);
        return a;
    }
    void Wake()
    {
        char c = 1;
        if (write(wake[1], &c, 1) != 1) abort();
    }
    // A side that does not take our bytes within the limit ends its pair.
    static bool Forward(int from, int to)
    {
        char buffer[65536];
        ssize_t n = read(from, buffer, sizeof(buffer));
        for (ssize_t at = 0; n > 0 && at < n;) {
            ssize_t w = write(to, buffer + at, size_t(n - at));
            if (w <= 0) return false;
            at += w;
        }
        return n > 0;
    }
    void Run()
    {
        while (!stop) {
            if (cutRequested) {
                for (auto& p : pairs) close(p.first), close(p.second);
                pairs.clear();
                std::lock_guard<std::mutex> lock(cutMutex);
                cutRequested = false;
                cutDone.notify_all();
            }
            bool accepting = open;
            std::vector<pollfd> fds = {{wake[0], POLLIN, 0}};
            if (accepting) fds.push_back({listener, POLLIN, 0});
            size_t first = fds.size();
            for (auto& p : pairs) fds.push_back({p.first, POLLIN, 0}), fds.push_back({p.second, POLLIN, 0});
            if (poll(fds.data(), fds.size(), 1000) <= 0) continue;
            if (fds[0].revents) {
                char c[16];
                if (read(wake[0], c, sizeof(c)) < 0) return;
            }
            if (accepting && fds[1].revents) AcceptOne();
            for (size_t i = first, p = 0; i < fds.size(); i += 2, p++) {
                bool ok = true;
                if (fds[i].revents) ok = Forward(pairs[p].first, pairs[p].second);
                if (ok && fds[i + 1].revents) ok = Forward(pairs[p].second, pairs[p].first);
                if (!ok) {
                    close(pairs[p].first), close(pairs[p].second);
                    pairs[p] = {-1, -1};
                }
            }
            std::vector<std::pair<int, int>> alive;
            for (auto& p : pairs)
                if (p.first >= 0) alive.push_back(p);
            pairs = alive;
        }
    }
    void AcceptOne()
    {
        int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address(host, targetPort);
        if (connect(server, (sockaddr*)&a, sizeof(a)) < 0) {
            close(client), close(server);
            return;
        }
        timeval limit = {5, 0};
        for (int fd : {client, server}) setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
        pairs.push_back({client, server});
        accepted++;
    }

    std::string host;
    int targetPort;
    int listener = -1;
    int wake[2] = {-1, -1};
    std::atomic<bool> open{false}, stop{false}, cutRequested{false};
    std::mutex cutMutex;
    std::condition_variable cutDone;
    std::vector<std::pair<int, int>> pairs;
    std::thread relay;
};

// A fresh database and the whole installation on it, for one test.
class Installation {
public:
    Installation() : socketPath(dir / "plugins.sock")
    {
        if (!db.Create()) ADD_FAILURE() << "no test database: " << db.Error();
    }

    TempDir dir;
    std::string socketPath;
    PgTestDatabase db;
};

}  // namespace e2e
