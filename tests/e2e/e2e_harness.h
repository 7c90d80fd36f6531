// The whole installation in test processes: the real platform-webserver, the
// real messages on its own fresh database of the test cluster, the echo
// plugin, curl as the HTTP client and a Beast websocket client.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <atomic>
#include <memory>

#include "tests/support/child_process.h"
#include "tests/support/digest.h"
#include "tests/support/http_clients.h"
#include "tests/support/pg_test.h"
#include "tests/support/stand_in.h"

namespace e2e {

using namespace harness;

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
