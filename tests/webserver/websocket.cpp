// Websockets through the real platform-webserver: a Beast client on one side, a fake plugin
// speaking websocket sub-messages on the other.
#include <gtest/gtest.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <thread>

#include "tests/webserver/webserver_harness.h"

using namespace wst;
namespace asio = boost::asio;
namespace websocket = boost::beast::websocket;

namespace {

struct Client {
    Client(int port, const std::string& path) : ws(io)
    {
        asio::ip::tcp::endpoint at(asio::ip::make_address("127.0.0.1"), uint16_t(port));
        ws.next_layer().connect(at);
        ws.next_layer().set_option(asio::socket_base::receive_buffer_size(1 << 20));
        handshake = std::thread([this, path] {
            boost::system::error_code ec;
            ws.handshake("127.0.0.1", path, ec);
            error = ec;
        });
    }
    ~Client()
    {
        if (handshake.joinable()) handshake.join();
    }
    void WaitHandshake() { handshake.join(); }

    asio::io_context io;
    websocket::stream<asio::ip::tcp::socket> ws;
    std::thread handshake;
    boost::system::error_code error;
};

// Accepts the announced websocket; returns its connection id.
uint32_t Accept(FakePlugin& plugin, const std::string& registered)
{
    Frame listen = plugin.Next();
    EXPECT_EQ(listen.type, WSM_WEBSOCKET_LISTEN_RESULT);
    EXPECT_EQ(listen.Header().String(DDT_REQUEST_PATH), registered);
    EXPECT_EQ(listen.Header().String(DDT_REGISTERED_PATH_FOR_REQUEST), registered);
    Frame done = plugin.Next();
    EXPECT_EQ(done.type, WSM_WEBSOCKET_MESSAGE);
    EXPECT_EQ(done.general & 0xFFFF, WS_ACCEPT_COMPLETE);
    return listen.connection;
}

}  // namespace

TEST(webserver_websocket, echo_carries_messages_larger_than_a_frame_as_fragments)
{
    Webserver server;
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app", WSM_WEBSOCKET_LISTEN), REGISTER_OK);
    Client client(server.port, "/app/");
    uint32_t id = Accept(app, "/app");
    client.WaitHandshake();
    ASSERT_FALSE(client.error) << client.error.message();

    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); i++) big[i] = char('A' + i % 26);
    std::thread writer([&] {
        client.ws.text(true);
        client.ws.write(asio::buffer(big));
        client.ws.binary(true);
        client.ws.write(asio::buffer(std::string("\x01\x02", 2)));
    });

    // The plugin echoes each part as it comes, keeping the fragment flag.
    std::vector<std::pair<size_t, uint16_t>> parts;
    for (int messages = 0; messages < 2;) {
        app.Websocket(id, WS_RECV, 0);
        Frame in = app.Next();
        ASSERT_EQ(in.general & 0xFFFF, WS_RECV_RESULT);
        uint16_t flags = uint16_t(in.general >> 16);
        parts.emplace_back(in.body.size(), flags);
        app.Websocket(id, WS_SEND, flags, in.body);
        Frame taken = app.Next();
        ASSERT_EQ(taken.general & 0xFFFF, WS_SEND_RESULT);
        if (!(flags & kWebsocketFlagFragment)) messages++;
    }
    writer.join();
    for (size_t i = 0; i + 2 < parts.size(); i++) {
        EXPECT_LE(parts[i].first, kMaxDataSize);
        EXPECT_EQ(parts[i].second, kWebsocketFlagText | kWebsocketFlagFragment);
    }
    EXPECT_EQ(parts[parts.size() - 2].second, kWebsocketFlagText);
    EXPECT_EQ(parts.back().second, 0);
    EXPECT_EQ(parts.back().first, 2u);

    boost::beast::flat_buffer buffer;
    client.ws.read(buffer);
    EXPECT_TRUE(client.ws.got_text());
    EXPECT_EQ(boost::beast::buffers_to_string(buffer.data()), big);
    buffer.clear();
    client.ws.read(buffer);
    EXPECT_FALSE(client.ws.got_text());
    EXPECT_EQ(buffer.size(), 2u);

    // The plugin's close reaches the client and comes back as closed.
    ExtendedHeaderWriter w;
    w.U32(DDT_WEBSOCKET_CLOSE_REASON, 0);
    std::string reason;
    w.Encode(reason);
    app.Websocket(id, WS_CLOSE, 0, reason);
    boost::system::error_code ec;
    client.ws.read(buffer, ec);
    EXPECT_EQ(ec, websocket::error::closed);
    Frame closed = app.Next();
    EXPECT_EQ(closed.general & 0xFFFF, WS_CLOSED);
    EXPECT_EQ(closed.body, std::string(2, '\0'));
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver_websocket, client_close_double_receive_and_rejection_end_the_websocket)
{
    Webserver server;
    FakePlugin app(server.socketPath, "/app");
    ASSERT_EQ(app.Register("/app", WSM_WEBSOCKET_LISTEN), REGISTER_OK);
    {
        Client client(server.port, "/app");
        uint32_t id = Accept(app, "/app");
        client.WaitHandshake();
        app.Websocket(id, WS_RECV, 100);
        client.ws.close(websocket::close_code::normal);
        Frame closed = app.Next();
        EXPECT_EQ(closed.general & 0xFFFF, WS_CLOSED);
        EXPECT_EQ(closed.body, std::string(2, '\0'));
    }
    {
        Client client(server.port, "/app");
        uint32_t id = Accept(app, "/app");
        client.WaitHandshake();
        app.Websocket(id, WS_RECV, 100);
        app.Websocket(id, WS_RECV, 100);
        Frame closed = app.Next();
        EXPECT_EQ(closed.general & 0xFFFF, WS_CLOSED);
        EXPECT_EQ(closed.body, std::string("\0\x04", 2));
        boost::beast::flat_buffer buffer;
        boost::system::error_code ec;
        client.ws.read(buffer, ec);
        EXPECT_TRUE(ec);
    }
    {
        Client client(server.port, "/app");
        Frame listen = app.Next();
        ASSERT_EQ(listen.type, WSM_WEBSOCKET_LISTEN_RESULT);
        app.Websocket(listen.connection, WS_REJECT, 0);
        client.WaitHandshake();
        boost::beast::flat_buffer buffer;
        boost::system::error_code ec = client.error;
        if (!ec) client.ws.read(buffer, ec);
        EXPECT_TRUE(ec);
        // The handshake may have finished before the rejection arrived; that is all the plugin may hear.
        Frame late;
        while (app.Read(late, 300)) EXPECT_EQ(late.general & 0xFFFF, WS_ACCEPT_COMPLETE);
    }
    // A websocket to a path nobody listens on is refused at the handshake.
    {
        Client client(server.port, "/nowhere");
        client.WaitHandshake();
        EXPECT_TRUE(client.error);
    }
    // Meanwhile the plugin heard nothing more.
    Frame none;
    EXPECT_FALSE(app.Read(none, 300));
    EXPECT_EQ(server.Stop(), 0);
}
