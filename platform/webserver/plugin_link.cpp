#include "platform/webserver/plugin_link.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <vector>

#include "platform/webserver/extended_header.h"
#include "platform/webserver/plugin_protocol.h"

namespace asio = boost::asio;

namespace wsp {

namespace {
// A frame is at most 12 + 65535 bytes; one read takes a few of them.
const size_t kReadChunk = 65536;
}  // namespace

void Log(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("platform-webserver: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

PluginLink::PluginLink(asio::local::stream_protocol::socket socket, ServerContext& context)
    : socket_(std::move(socket)), context_(context), name_("(no web root)")
{
}

void PluginLink::Start() { ReadMore(); }

uint32_t PluginLink::Open(std::shared_ptr<IPluginChannel> channel)
{
    if (closed_) return 0;
    uint32_t id;
    do id = context_.NextConnectionId();
    while (channels_.count(id));
    channels_[id] = std::move(channel);
    return id;
}

void PluginLink::Release(uint32_t connection)
{
    auto it = channels_.find(connection);
    if (it == channels_.end()) return;
    // The channel usually releases itself from inside its own member function: free it later.
    asio::post(context_.io, [channel = std::move(it->second)] {});
    channels_.erase(it);
}

void PluginLink::Send(uint32_t connection, uint16_t type, uint32_t general, const std::string& body)
{
    if (closed_) return;
    writes_.push_back(EncodeFrame(connection, type, general, body));
    WriteNext();
}

void PluginLink::WriteNext()
{
    if (writing_ || writes_.empty() || closed_) return;
    writing_ = true;
    sending_.swap(writes_);
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(sending_.size());
    for (const std::string& frame : sending_) buffers.push_back(asio::buffer(frame));
    auto self = shared_from_this();
    asio::async_write(socket_, buffers, [self](boost::system::error_code ec, size_t) {
        self->writing_ = false;
        self->sending_.clear();
        if (self->closed_) return;
        if (ec) return self->Close("write failed: " + ec.message());
        self->WriteNext();
    });
}

void PluginLink::ReadMore()
{
    if (inPos_) {
        memmove(in_.data(), in_.data() + inPos_, inEnd_ - inPos_);
        inEnd_ -= inPos_;
        inPos_ = 0;
    }
    size_t have = inEnd_;
    if (in_.size() < have + kReadChunk) in_.resize(have + kReadChunk);
    auto self = shared_from_this();
    socket_.async_read_some(asio::buffer(in_.data() + have, kReadChunk), [self, have](boost::system::error_code ec, size_t n) {
        if (self->closed_) return;
        self->inEnd_ = have + n;
        if (ec) {
            if (ec != asio::error::eof) return self->Close("read failed: " + ec.message());
            return self->Close(have ? "disconnected inside a frame" : "disconnected");
        }
        self->DispatchBuffered();
    });
}

void PluginLink::DispatchBuffered()
{
    // A channel may drop the link while it handles a frame.
    auto self = shared_from_this();
    while (!closed_) {
        size_t available = inEnd_ - inPos_;
        if (available < kFrameHeaderSize) break;
        FrameHeader frame = DecodeFrameHeader(reinterpret_cast<const unsigned char*>(in_.data() + inPos_));
        if (frame.type == WSM_NONE || frame.type > WSM_LAST)
            return Fail("unknown message type " + std::to_string(frame.type));
        if (available < kFrameHeaderSize + frame.size) break;
        frame_ = frame;
        body_.assign(in_.data() + inPos_ + kFrameHeaderSize, frame.size);
        inPos_ += kFrameHeaderSize + frame.size;
        Dispatch();
    }
    if (!closed_) ReadMore();
}

void PluginLink::Dispatch()
{
    // The link may be dropped by a channel while it handles the frame.
    auto self = shared_from_this();
    switch (frame_.type) {
    case WSM_SET_PLUGINS_WEB_ROOT:
        if (body_.empty() || body_.back() != '\0' || body_.find('\0') != body_.size() - 1)
            return Fail("web root is not one NUL-terminated string");
        name_ = body_.substr(0, body_.size() - 1);
        Log("plugin %s connected", name_.c_str());
        // Wide mode: sizes travel as 64-bit items of their own.
        Send(kLinkConnectionId, WSM_SET_PLUGINS_WEB_ROOT_RESULT, 1);
        break;
    case WSM_REGISTER: Register(PATH_HTTP); break;
    case WSM_REGISTER_PASSTHROUGH: Register(PATH_PASSTHROUGH); break;
    case WSM_WEBSOCKET_LISTEN: Register(PATH_WEBSOCKET); break;
    case WSM_SET_AUTH_CONFIG: {
        ExtendedHeader h;
        std::string error = h.Decode(body_);
        if (!error.empty()) return Fail(error);
        // Authentication is this server's own business; the plugin only needs its answer.
        ExtendedHeaderWriter w;
        std::string path = h.String(DDT_PATH_TO_REGISTER), answer;
        if (!path.empty()) w.String(DDT_PATH_TO_REGISTER, path);
        w.Encode(answer);
        Send(kLinkConnectionId, WSM_SET_AUTH_CONFIG_RESULT, 0, answer);
        break;
    }
    case WSM_SET_CERTIFICATE:
    case WSM_REQUEST_USER_PASSWORD_RESULT:
    case WSM_SHUTDOWN:
        Log("plugin %s: message type %u ignored", name_.c_str(), frame_.type);
        break;
    case WSM_SEND:
    case WSM_SEND_META_DATA:
    case WSM_RECV:
    case WSM_WEBSOCKET_MESSAGE:
    case WSM_MESSAGE_HANDLER_CLOSED: {
        auto it = channels_.find(frame_.connection);
        std::shared_ptr<IPluginChannel> channel;
        if (it != channels_.end()) channel = it->second;
        // Frames for a connection that already ended cross our shutdown on the wire.
        if (channel) channel->OnPluginMessage(frame_, body_);
        break;
    }
    default:
        return Fail("message type " + std::to_string(frame_.type) + " is not sent by plugins");
    }
}

void PluginLink::Register(PathType type)
{
    ExtendedHeader h;
    std::string error = h.Decode(body_);
    if (!error.empty()) return Fail(error);
    std::string path = h.String(DDT_PATH_TO_REGISTER);
    RegisterResult result = context_.router.Register(type, path, this);
    static const char* const kinds[] = {"http", "websocket", "passthrough"};
    Log("plugin %s: register %s path %s: %s", name_.c_str(), kinds[type], path.c_str(),
        result == REGISTER_OK ? "ok" : result == REGISTER_PATH_INVALID ? "invalid" : "already registered");
    Send(kLinkConnectionId, WSM_REGISTER_RESULT, result);
}

void PluginLink::Fail(const std::string& why) { Close("protocol error: " + why); }

void PluginLink::Close(const std::string& why)
{
    if (closed_) return;
    auto self = shared_from_this();
    closed_ = true;
    Log("plugin %s closed: %s", name_.c_str(), why.c_str());
    boost::system::error_code ignored;
    socket_.close(ignored);
    // A write in flight still reads sending_ until its handler runs.
    writes_.clear();
    context_.router.RemoveOwner(this);
    std::vector<std::shared_ptr<IPluginChannel>> gone;
    for (auto& c : channels_) gone.push_back(c.second);
    channels_.clear();
    for (auto& ch : gone) ch->OnPluginGone();
    context_.links.erase(this);
}

}  // namespace wsp
