// Websocket echo round trips per second: a load client, and the direct echo
// server that is the peer of the plugin path (platform-webserver, the plugin
// link and web-echo-plugin). scripts/bench-web.sh runs both side by side.
//
//   bench_web_echo server [--port=0]
//       a single-threaded Beast websocket echo server on 127.0.0.1; prints
//       "listening on 127.0.0.1:PORT" and runs until SIGTERM or SIGINT
//   bench_web_echo client --port=PORT [--path=/] [--connections=16] [--size=32]
//                         [--seconds=5] [--max=10000000]
//       every connection sends a message, waits for its echo and sends the
//       next; prints "round_trips=N seconds=S rate=R" (round trips per second)
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/driver_options.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

class EchoSession : public std::enable_shared_from_this<EchoSession> {
public:
    explicit EchoSession(tcp::socket socket) : ws(std::move(socket)) {}
    void Start()
    {
        ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws.async_accept([self = shared_from_this()](beast::error_code ec) {
            if (!ec) self->Read();
        });
    }

private:
    void Read()
    {
        buffer.clear();
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) return;
            self->ws.text(self->ws.got_text());
            self->ws.async_write(self->buffer.data(), [self](beast::error_code ec, size_t) {
                if (!ec) self->Read();
            });
        });
    }

    websocket::stream<beast::tcp_stream> ws;
    beast::flat_buffer buffer;
};

int Server(int argc, char** argv)
{
    asio::io_context io(1);
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"),
                                             (unsigned short)atoi(Option(argc, argv, "port", "0"))));
    std::function<void()> accept = [&] {
        acceptor.async_accept([&](beast::error_code ec, tcp::socket socket) {
            if (ec) return;
            socket.set_option(tcp::no_delay(true));
            std::make_shared<EchoSession>(std::move(socket))->Start();
            accept();
        });
    };
    accept();
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](beast::error_code, int) { io.stop(); });
    printf("listening on 127.0.0.1:%u\n", acceptor.local_endpoint().port());
    fflush(stdout);
    io.run();
    return 0;
}

struct Load {
    Clock::time_point end;
    unsigned long long max;
    unsigned long long done = 0;
    Clock::time_point last;
    unsigned failed = 0;
};

class ClientSession : public std::enable_shared_from_this<ClientSession> {
public:
    ClientSession(asio::io_context& io, Load& load, const std::string& message)
        : ws(io), load(load), message(message)
    {
    }
    void Start(const tcp::endpoint& at, const std::string& path)
    {
        auto self = shared_from_this();
        beast::get_lowest_layer(ws).async_connect(at, [self, path](beast::error_code ec) {
            if (ec) return self->Fail();
            beast::get_lowest_layer(self->ws).socket().set_option(tcp::no_delay(true));
            self->ws.async_handshake("127.0.0.1", path, [self](beast::error_code ec) {
                if (ec) return self->Fail();
                self->ws.text(true);
                self->Send();
            });
        });
    }

private:
    void Fail() { load.failed++; }
    void Send()
    {
        if (load.done >= load.max || Clock::now() >= load.end) {
            ws.async_close(websocket::close_code::normal, [self = shared_from_this()](beast::error_code) {});
            return;
        }
        auto self = shared_from_this();
        ws.async_write(asio::buffer(message), [self](beast::error_code ec, size_t) {
            if (ec) return self->Fail();
            self->buffer.clear();
            self->ws.async_read(self->buffer, [self](beast::error_code ec, size_t n) {
                if (ec || n != self->message.size()) return self->Fail();
                self->load.done++;
                self->load.last = Clock::now();
                self->Send();
            });
        });
    }

    websocket::stream<beast::tcp_stream> ws;
    Load& load;
    const std::string& message;
    beast::flat_buffer buffer;
};

int Client(int argc, char** argv)
{
    unsigned port = (unsigned)atoi(Option(argc, argv, "port", "0"));
    std::string path = Option(argc, argv, "path", "/");
    unsigned connections = (unsigned)atoi(Option(argc, argv, "connections", "16"));
    std::string message((size_t)atoi(Option(argc, argv, "size", "32")), 'm');
    double seconds = atof(Option(argc, argv, "seconds", "5"));
    if (!port || !connections || seconds <= 0) {
        fprintf(stderr, "bench_web_echo client: --port= is required; connections and seconds must be positive\n");
        return 2;
    }
    asio::io_context io(1);
    Load load;
    load.max = strtoull(Option(argc, argv, "max", "10000000"), nullptr, 10);
    Clock::time_point start = Clock::now();
    load.end = start + std::chrono::milliseconds((long long)(seconds * 1000));
    tcp::endpoint at(asio::ip::make_address("127.0.0.1"), (unsigned short)port);
    for (unsigned i = 0; i < connections; i++) std::make_shared<ClientSession>(io, load, message)->Start(at, path);
    // The load ends by itself at its deadline; this bound only stops a stuck peer.
    io.run_for(std::chrono::milliseconds((long long)(seconds * 1000) + 5000));
    double took = std::chrono::duration<double>(load.last - start).count();
    if (load.failed) fprintf(stderr, "bench_web_echo client: %u connections failed\n", load.failed);
    printf("round_trips=%llu seconds=%.2f rate=%.0f\n", load.done, took, took > 0 ? load.done / took : 0.0);
    return load.failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && !strcmp(argv[1], "server")) return Server(argc, argv);
    if (argc >= 2 && !strcmp(argv[1], "client")) return Client(argc, argv);
    fprintf(stderr, "usage: bench_web_echo server [--port=0] | client --port=PORT [--path=/] [--connections=16] "
                    "[--size=32] [--seconds=5] [--max=N]\n");
    return 2;
}
