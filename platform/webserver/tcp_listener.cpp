#include "platform/webserver/tcp_listener.h"

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include "platform/webserver/http_session.h"
#include "platform/webserver/options.h"
#include "platform/webserver/plugin_protocol.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
using asio::ip::tcp;

namespace wsp {

namespace {

bool IsLoopback(const asio::ip::address& a)
{
    if (a.is_loopback()) return true;
    return a.is_v6() && a.to_v6().is_v4_mapped() && asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6()).is_loopback();
}

}  // namespace

TcpListener::TcpListener(ServerContext& context, asio::ssl::context* tls) : context_(context), tls_(tls), acceptor_(context.io) {}

bool TcpListener::Start(const std::string& where, std::string& bound)
{
    std::string address;
    unsigned short port;
    boost::system::error_code ec;
    if (!SplitAddress(where, address, port)) return false;
    auto ip = asio::ip::make_address(address, ec);
    if (ec) {
        Log("bad listen address %s", where.c_str());
        return false;
    }
    tcp::endpoint endpoint(ip, port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        Log("cannot listen on %s: %s", where.c_str(), ec.message().c_str());
        return false;
    }
    auto local = acceptor_.local_endpoint();
    bound = local.address().is_v6() ? "[" + local.address().to_string() + "]" : local.address().to_string();
    bound += ":" + std::to_string(local.port());
    Accept();
    return true;
}

void TcpListener::Accept()
{
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            uint32_t flags = 0;
            boost::system::error_code peerError;
            auto peer = socket.remote_endpoint(peerError);
            if (!peerError && IsLoopback(peer.address())) flags |= CONNECTION_LOCAL_HOST;
            // A response goes out as header and body writes; Nagle would hold the body
            // back until the client's delayed acknowledgement of the header.
            socket.set_option(tcp::no_delay(true), peerError);
            if (tls_) {
                flags |= CONNECTION_ENCRYPTED;
                using Stream = beast::ssl_stream<beast::tcp_stream>;
                std::make_shared<HttpSession<Stream>>(Stream(beast::tcp_stream(std::move(socket)), *tls_), context_, flags)->Start();
            }
            else {
                std::make_shared<HttpSession<beast::tcp_stream>>(beast::tcp_stream(std::move(socket)), context_, flags)->Start();
            }
        }
        Accept();
    });
}

}  // namespace wsp
