// One websocket, carried to its plugin as websocket sub-messages.
#pragma once

#include <stdint.h>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <deque>
#include <memory>
#include <string>

#include "platform/webserver/plugin_link.h"

namespace wsp {

// Stream is boost::beast::tcp_stream or boost::beast::ssl_stream of it.
template <class Stream>
class WebsocketSession : public IPluginChannel, public std::enable_shared_from_this<WebsocketSession<Stream>> {
public:
    using Request = boost::beast::http::request<boost::beast::http::buffer_body>;

    WebsocketSession(Stream stream, std::shared_ptr<PluginLink> link);
    // Announces the websocket to the plugin and answers the client's upgrade at once; a
    // rejection that arrives after the handshake closes the websocket instead.
    void Start(const Request& request, const Router::Route& route, uint32_t connectionFlags);

    void OnPluginMessage(const FrameHeader& header, std::string& body) override;
    void OnPluginGone() override;

private:
    enum class State { kHandshake, kOpen, kClosing, kClosed };
    struct Outgoing {
        std::string data;
        bool text;
        bool more;  // further parts of the same message follow
    };

    void OnAccepted(boost::system::error_code ec);
    void StartRead(size_t limit);
    void WriteNext();
    void CloseIfDrained();
    // TCP_CORK: holds written data back until uncorked (or 200 ms pass).
    void Cork(bool on);
    // Tells the plugin (unless rejected or gone) and ends the websocket.
    void End(uint16_t reason, bool notify);
    void SendSub(uint16_t id, uint16_t flags, const std::string& body = std::string());

    boost::beast::websocket::stream<Stream> ws_;
    Request request_;  // kept for the handshake, which answers from it
    std::shared_ptr<PluginLink> link_;
    uint32_t id_ = 0;
    State state_ = State::kHandshake;
    size_t deferredRead_ = 0;  // a receive asked for before the handshake finished
    bool rejected_ = false, recvPending_ = false, writing_ = false, inMessage_ = false, closeSent_ = false,
         corked_ = false;
    boost::beast::flat_buffer readBuffer_;
    std::deque<Outgoing> writes_;
};

}  // namespace wsp
