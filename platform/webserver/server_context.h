// What every session and plugin link of one server shares.
#pragma once

#include <stdint.h>

#include <boost/asio/io_context.hpp>
#include <map>
#include <memory>

#include "platform/webserver/router.h"

namespace wsp {

class AppLogin;
class PluginLink;

struct ServerContext {
    explicit ServerContext(boost::asio::io_context& io) : io(io) {}

    // Connection ids are unique across plugins, which keeps the logs unambiguous.
    uint32_t NextConnectionId()
    {
        if (++lastConnectionId >= kLinkConnectionId) lastConnectionId = 1;
        return lastConnectionId;
    }

    boost::asio::io_context& io;
    Router router;
    AppLogin* login = nullptr;  // set when browsers may log in here
    std::map<const void*, std::shared_ptr<PluginLink>> links;
    uint32_t lastConnectionId = 0;
};

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace wsp
