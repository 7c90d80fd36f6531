// platform-webserver: HTTP, HTTPS and websockets on TCP, forwarded to the plugins
// (`messages` instances) that connect to its Unix socket.
//
//   platform-webserver [--http=ADDR:PORT] [--https=ADDR:PORT --cert=FILE --key=FILE]
//                      [--plugins=PATH] [--app=WEBPATH:PASSWORD[:APPNAME]]... [--users=FILE | --open-login]
// --help tells the rest; app_login.h describes the browser login. It says on
// standard output when it is ready and when it has stopped; its traces go to
// standard error.
#include <signal.h>
#include <stdio.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <memory>
#include <vector>

#include "platform/webserver/app_login.h"
#include "platform/webserver/options.h"
#include "platform/webserver/plugin_link.h"
#include "platform/webserver/plugin_listener.h"
#include "platform/webserver/tcp_listener.h"

namespace asio = boost::asio;

int main(int argc, char** argv)
{
    wsp::Options options;
    std::string error = wsp::ParseOptions(argc, argv, options);
    if (!error.empty()) {
        fprintf(stderr, "platform-webserver: %s\n%s", error.c_str(), wsp::kUsage);
        return 2;
    }
    if (options.help) {
        fputs(wsp::kUsage, stdout);
        return 0;
    }
    // A client that vanishes mid-write must not end the process.
    signal(SIGPIPE, SIG_IGN);

    asio::io_context io(1);
    wsp::ServerContext context(io);
    wsp::AppLogin login;
    error = login.Load(options);
    if (!error.empty()) {
        fprintf(stderr, "platform-webserver: %s\n", error.c_str());
        return 1;
    }
    if (login.Enabled()) context.login = &login;
    wsp::PluginListener plugins(context, options.plugins);
    if (!plugins.Start()) return 1;

    std::unique_ptr<asio::ssl::context> tls;
    std::unique_ptr<wsp::TcpListener> https;
    std::string bound;
    if (!options.https.empty()) {
        tls = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        boost::system::error_code ec;
        tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3);
        tls->use_certificate_chain_file(options.cert, ec);
        if (!ec) tls->use_private_key_file(options.key, asio::ssl::context::pem, ec);
        if (ec) {
            fprintf(stderr, "platform-webserver: cannot load %s / %s: %s\n", options.cert.c_str(), options.key.c_str(),
                    ec.message().c_str());
            return 1;
        }
        https = std::make_unique<wsp::TcpListener>(context, tls.get());
        if (!https->Start(options.https, bound)) return 1;
        printf("platform-webserver: listening on https://%s\n", bound.c_str());
    }
    wsp::TcpListener http(context, nullptr);
    if (!http.Start(options.http, bound)) return 1;

    asio::signal_set signals(io, SIGINT, SIGTERM);
    int stopSignal = 0;
    signals.async_wait([&io, &stopSignal](boost::system::error_code, int sig) {
        stopSignal = sig;
        io.stop();
    });

    // Scripts wait for this line and read the port at its end: everything is listening once it appears.
    printf("platform-webserver: ready, plugins connect at %s, listening on http://%s\n", options.plugins.c_str(),
           bound.c_str());
    fflush(stdout);
    io.run();
    // Links and the requests they serve hold each other; ending the links breaks those cycles.
    std::vector<std::shared_ptr<wsp::PluginLink>> links;
    for (auto& l : context.links) links.push_back(l.second);
    for (auto& l : links) l->Stop();
    printf("platform-webserver: stopped (%s), exit code 0\n", stopSignal == SIGINT ? "SIGINT" : "SIGTERM");
    fflush(stdout);
    return 0;
}
