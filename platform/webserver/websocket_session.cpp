#include "platform/webserver/websocket_session.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <type_traits>

#include "platform/webserver/extended_header.h"
#include "platform/webserver/plugin_protocol.h"
#include "platform/webserver/request_header.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace wsp {

namespace {

// Messages reach the plugin in parts of at most one frame, so their total size needs no bound here.
constexpr uint64_t kMaxMessage = uint64_t(1) << 32;

uint16_t CloseReason(boost::system::error_code ec)
{
    if (ec == websocket::error::closed) return WS_CLOSE_NORMAL;
    if (ec == websocket::error::message_too_big || ec == websocket::error::buffer_overflow) return WS_CLOSE_TOO_BIG;
    if (ec == websocket::condition::protocol_violation) return WS_CLOSE_PROTOCOL_ERROR;
    return WS_CLOSE_CONNECTION_LOST;
}

}  // namespace

template <class Stream>
WebsocketSession<Stream>::WebsocketSession(Stream stream, std::shared_ptr<PluginLink> link)
    : ws_(std::move(stream)), link_(std::move(link))
{
}

template <class Stream>
void WebsocketSession<Stream>::Start(const Request& request, const Router::Route& route, uint32_t connectionFlags)
{
    request_ = request;
    RequestInfo info;
    // The plugin finds its websocket by this path, compared as a whole.
    info.resource = route.registered;
    info.registered = route.registered;
    for (auto& f : request) info.fields.emplace_back(std::string(f.name_string()), std::string(f.value()));
    info.host = std::string(request[http::field::host]);
    info.connectionFlags = connectionFlags;
    std::string body;
    id_ = link_->Open(this->shared_from_this());
    if (!EncodeRequestHeader(info, body) || !id_) {
        link_->Release(id_);
        link_.reset();
        rejected_ = true;
    }
    else {
        link_->Send(id_, WSM_WEBSOCKET_LISTEN_RESULT, 0, body);
    }
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& res) { res.set(http::field::server, "platform-webserver"); }));
    ws_.read_message_max(kMaxMessage);
    ws_.async_accept(request_, [self = this->shared_from_this()](boost::system::error_code ec) { self->OnAccepted(ec); });
}

template <class Stream>
void WebsocketSession<Stream>::OnAccepted(boost::system::error_code ec)
{
    if (state_ != State::kHandshake) return;
    if (ec) return End(WS_CLOSE_CONNECTION_LOST, true);
    state_ = State::kOpen;
    if (rejected_) return End(WS_CLOSE_NORMAL, false);
    SendSub(WS_ACCEPT_COMPLETE, 0);
    if (deferredRead_) StartRead(deferredRead_);
    WriteNext();
    CloseIfDrained();
}

template <class Stream>
void WebsocketSession<Stream>::OnPluginMessage(const FrameHeader& header, std::string& body)
{
    if (header.type != WSM_WEBSOCKET_MESSAGE) {
        Log("websocket %u: message type %u ignored", id_, header.type);
        return;
    }
    uint16_t sub = uint16_t(header.general), flags = uint16_t(header.general >> 16);
    switch (sub) {
    case WS_REJECT:
        // The plugin has dropped its side already; it expects nothing more.
        rejected_ = true;
        link_->Release(id_);
        link_.reset();
        if (state_ == State::kOpen) End(WS_CLOSE_NORMAL, false);
        break;
    case WS_SEND:
        if (state_ == State::kClosing || state_ == State::kClosed) return link_->Fail("websocket data after close");
        writes_.push_back(Outgoing{std::move(body), (flags & kWebsocketFlagText) != 0, (flags & kWebsocketFlagFragment) != 0});
        WriteNext();
        break;
    case WS_RECV:
        if (recvPending_ || deferredRead_) {
            SendSub(WS_CLOSED, 0, std::string{0, char(WS_CLOSE_DOUBLE_RECV)});
            return End(WS_CLOSE_DOUBLE_RECV, false);
        }
        // Zero leaves the buffer size to the plugin's side: one frame's worth.
        if (state_ == State::kHandshake) deferredRead_ = flags ? flags : kMaxDataSize;
        else StartRead(flags ? flags : kMaxDataSize);
        break;
    case WS_CLOSE: {
        ExtendedHeader h;
        std::string error = h.Decode(body);
        if (!error.empty()) return link_->Fail("websocket close: " + error);
        if (state_ == State::kClosing || state_ == State::kClosed) break;
        state_ = state_ == State::kHandshake ? State::kClosed : State::kClosing;
        if (state_ == State::kClosed) return End(WS_CLOSE_NORMAL, true);
        CloseIfDrained();
        break;
    }
    default:
        link_->Fail("websocket sub-message " + std::to_string(sub) + " is not sent by plugins");
        break;
    }
}

template <class Stream>
void WebsocketSession<Stream>::OnPluginGone()
{
    link_.reset();
    End(WS_CLOSE_CONNECTION_LOST, false);
}

template <class Stream>
void WebsocketSession<Stream>::StartRead(size_t limit)
{
    deferredRead_ = 0;
    if (state_ != State::kOpen) return;
    recvPending_ = true;
    readBuffer_.clear();
    ws_.async_read_some(readBuffer_, limit, [self = this->shared_from_this(), limit](boost::system::error_code ec, size_t) {
        self->recvPending_ = false;
        if (!self->link_ || self->state_ == State::kClosed) return;
        if (ec) return self->End(CloseReason(ec), true);
        bool done = self->ws_.is_message_done();
        // An empty part in the middle of a message tells the plugin nothing.
        if (self->readBuffer_.size() == 0 && !done) return self->StartRead(limit);
        uint16_t flags = uint16_t((self->ws_.got_text() ? kWebsocketFlagText : 0) | (done ? 0 : kWebsocketFlagFragment));
        self->SendSub(WS_RECV_RESULT, flags, beast::buffers_to_string(self->readBuffer_.data()));
    });
}

template <class Stream>
void WebsocketSession<Stream>::WriteNext()
{
    if (writing_ || writes_.empty() || state_ == State::kHandshake || state_ == State::kClosed) return;
    writing_ = true;
    // A listing's rows arrive together: held back while more wait, they
    // leave in one segment instead of one each, which spares both ends the
    // network stack's work per message.
    if (writes_.size() > 1) Cork(true);
    Outgoing& out = writes_.front();
    // The frame type is fixed by the first part of a message.
    if (!inMessage_) ws_.text(out.text);
    ws_.async_write_some(!out.more, boost::asio::buffer(out.data),
                         [self = this->shared_from_this()](boost::system::error_code ec, size_t) {
                             self->writing_ = false;
                             if (self->state_ == State::kClosed) return;
                             if (ec) return self->End(WS_CLOSE_CONNECTION_LOST, true);
                             self->inMessage_ = self->writes_.front().more;
                             self->writes_.pop_front();
                             if (self->writes_.empty()) self->Cork(false);
                             self->SendSub(WS_SEND_RESULT, 0);
                             self->WriteNext();
                             self->CloseIfDrained();
                         });
}

template <class Stream>
void WebsocketSession<Stream>::Cork(bool on)
{
    if (corked_ == on) return;
    corked_ = on;
    int value = on ? 1 : 0;
    // Failure costs only the batching; uncorking is what sends what was held.
    ::setsockopt(beast::get_lowest_layer(ws_).socket().native_handle(), IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

template <class Stream>
void WebsocketSession<Stream>::CloseIfDrained()
{
    if (state_ != State::kClosing || writing_ || !writes_.empty() || closeSent_) return;
    closeSent_ = true;
    ws_.async_close(websocket::close_code::normal, [self = this->shared_from_this()](boost::system::error_code) {
        self->End(WS_CLOSE_NORMAL, true);
    });
}

template <class Stream>
void WebsocketSession<Stream>::End(uint16_t reason, bool notify)
{
    if (link_) {
        if (notify && !rejected_) {
            std::string body;
            body.push_back(char(reason >> 8));
            body.push_back(char(reason));
            SendSub(WS_CLOSED, 0, body);
        }
        link_->Release(id_);
        link_.reset();
    }
    State before = state_;
    state_ = State::kClosed;
    Cork(false);
    // A write in flight still reads its buffer until its handler runs.
    writes_.erase(writes_.begin() + (writing_ && !writes_.empty() ? 1 : 0), writes_.end());
    if (before == State::kOpen && !closeSent_) {
        closeSent_ = true;
        websocket::close_code code = reason == WS_CLOSE_CONNECTION_LOST    ? websocket::close_code::going_away
                                     : reason == WS_CLOSE_PROTOCOL_ERROR ? websocket::close_code::protocol_error
                                     : reason == WS_CLOSE_TOO_BIG        ? websocket::close_code::too_big
                                                                         : websocket::close_code::normal;
        ws_.async_close(code,
                        [self = this->shared_from_this()](boost::system::error_code) { beast::get_lowest_layer(self->ws_).close(); });
    }
    else if (before != State::kClosing) {
        beast::get_lowest_layer(ws_).close();
    }
}

template <class Stream>
void WebsocketSession<Stream>::SendSub(uint16_t id, uint16_t flags, const std::string& body)
{
    if (link_) link_->Send(id_, WSM_WEBSOCKET_MESSAGE, uint32_t(flags) << 16 | id, body);
}

template class WebsocketSession<beast::tcp_stream>;
template class WebsocketSession<beast::ssl_stream<beast::tcp_stream>>;

}  // namespace wsp
