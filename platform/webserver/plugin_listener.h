// The Unix socket that plugins connect to.
#pragma once

#include <boost/asio/local/stream_protocol.hpp>
#include <string>

#include "platform/webserver/server_context.h"

namespace wsp {

class PluginListener {
public:
    PluginListener(ServerContext& context, const std::string& path);
    ~PluginListener();
    // False with a message on stderr when the socket cannot be made.
    bool Start();

private:
    void Accept();

    ServerContext& context_;
    std::string path_;
    boost::asio::local::stream_protocol::acceptor acceptor_;
};

}  // namespace wsp
