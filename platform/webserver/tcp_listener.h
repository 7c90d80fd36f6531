// A TCP port for browsers and apps, plain or with TLS.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <string>

#include "platform/webserver/server_context.h"

namespace wsp {

class TcpListener {
public:
    // With `tls` set every connection starts with a TLS handshake and counts as encrypted.
    TcpListener(ServerContext& context, boost::asio::ssl::context* tls);
    // Listens on "ADDR:PORT"; `bound` gets the address really bound (port 0 picks one).
    bool Start(const std::string& where, std::string& bound);

private:
    void Accept();

    ServerContext& context_;
    boost::asio::ssl::context* tls_;
    boost::asio::ip::tcp::acceptor acceptor_;
};

}  // namespace wsp
