#include "platform/webserver/plugin_listener.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/webserver/plugin_link.h"

namespace asio = boost::asio;

namespace wsp {

namespace {

// The default socket lives in a directory that a fresh machine does not have yet.
void MakeParents(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
}

}  // namespace

PluginListener::PluginListener(ServerContext& context, const std::string& path)
    : context_(context), path_(path), acceptor_(context.io)
{
}

PluginListener::~PluginListener()
{
    if (acceptor_.is_open()) unlink(path_.c_str());
}

bool PluginListener::Start()
{
    MakeParents(path_);
    struct stat st;
    // A socket left behind by an earlier run would make bind fail.
    if (lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(path_.c_str());
    boost::system::error_code ec;
    acceptor_.open(asio::local::stream_protocol(), ec);
    if (!ec) acceptor_.bind(asio::local::stream_protocol::endpoint(path_), ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        Log("cannot listen for plugins on %s: %s", path_.c_str(), ec.message().c_str());
        return false;
    }
    Accept();
    return true;
}

void PluginListener::Accept()
{
    acceptor_.async_accept([this](boost::system::error_code ec, asio::local::stream_protocol::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            auto link = std::make_shared<PluginLink>(std::move(socket), context_);
            context_.links[link.get()] = link;
            link->Start();
        }
        Accept();
    });
}

}  // namespace wsp
