// One connected plugin: frames in both directions, registrations, and the requests it serves.
#pragma once

#include <stdint.h>

#include <boost/asio/local/stream_protocol.hpp>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/webserver/frame.h"
#include "platform/webserver/server_context.h"

namespace wsp {

// A request or websocket that a plugin serves under one connection id.
class IPluginChannel {
public:
    virtual ~IPluginChannel() = default;
    // A frame for this connection id. The channel may call Fail() or Release() on the link.
    virtual void OnPluginMessage(const FrameHeader& header, std::string& body) = 0;
    // The plugin is gone; the link has already forgotten the channel and sends nothing more.
    virtual void OnPluginGone() = 0;
};

class PluginLink : public std::enable_shared_from_this<PluginLink> {
public:
    PluginLink(boost::asio::local::stream_protocol::socket socket, ServerContext& context);

    void Start();
    // A fresh connection id bound to the channel, or 0 when the link is closed. The link keeps the
    // channel alive until Release() or its own end, since a channel waiting for the plugin has no I/O pending.
    uint32_t Open(std::shared_ptr<IPluginChannel> channel);
    void Release(uint32_t connection);
    void Send(uint32_t connection, uint16_t type, uint32_t general, const std::string& body = std::string());
    // Drops the plugin for a protocol error; every channel learns that it is gone.
    void Fail(const std::string& why);
    void Stop() { Close("server stopping"); }
    bool Closed() const { return closed_; }
    const std::string& Name() const { return name_; }

private:
    void ReadMore();
    void DispatchBuffered();
    void Dispatch();
    void Register(PathType type);
    void WriteNext();
    void Close(const std::string& why);

    boost::asio::local::stream_protocol::socket socket_;
    ServerContext& context_;
    std::string name_;
    // Bytes read but not yet dispatched are those from inPos_ to inEnd_: one read often brings
    // many frames. The buffer keeps its size, so that a read does not clear room it has cleared before.
    std::vector<char> in_;
    size_t inPos_ = 0;
    size_t inEnd_ = 0;
    FrameHeader frame_;
    std::string body_;
    // Frames queued while a write is in flight go out together in the next one.
    std::vector<std::string> writes_;
    std::vector<std::string> sending_;
    bool writing_ = false;
    bool closed_ = false;
    std::unordered_map<uint32_t, std::shared_ptr<IPluginChannel>> channels_;
};

}  // namespace wsp
