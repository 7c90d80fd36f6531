#include "platform/webserver/options.h"

#include <stdlib.h>
#include <string.h>

namespace wsp {

namespace {

const char* Match(const char* arg, const char* name)
{
    size_t n = strlen(name);
    if (strncmp(arg, "--", 2) || strncmp(arg + 2, name, n) || arg[2 + n] != '=') return nullptr;
    return arg + 3 + n;
}

// The web path ends at the first colon, the app name starts after the last.
bool ParseApp(const std::string& v, Options& o)
{
    size_t first = v.find(':'), last = v.rfind(':');
    if (first == std::string::npos || first == 0 || v[0] != '/') return false;
    AppOption app;
    app.path = v.substr(0, first);
    while (app.path.size() > 1 && app.path.back() == '/') app.path.pop_back();
    app.password = v.substr(first + 1, last == first ? std::string::npos : last - first - 1);
    if (last != first) app.name = v.substr(last + 1);
    if (app.name.empty() && last == first) app.name = app.path.substr(app.path.rfind('/') + 1);
    if (app.name.empty()) return false;
    for (auto& a : o.apps)
        if (a.path == app.path) return false;
    o.apps.push_back(app);
    return true;
}

}  // namespace

const char* const kUsage =
    "usage: platform-webserver [--http=ADDR:PORT] [--https=ADDR:PORT --cert=FILE --key=FILE]\n"
    "                          [--plugins=PATH] [--app=WEBPATH:PASSWORD[:APPNAME]]... [--users=FILE | --open-login]\n"
    "  --http=ADDR:PORT     where browsers and apps connect (default 127.0.0.1:8080; port 0 picks one)\n"
    "  --https=ADDR:PORT    the same over TLS (default: none)\n"
    "  --cert=FILE          the certificate chain for --https, PEM (default: none)\n"
    "  --key=FILE           its private key, PEM (default: none)\n"
    "  --plugins=PATH       the Unix socket that messages instances connect to\n"
    "                       (default /var/run/webserver/webserver)\n"
    "  --app=WEBPATH:PASSWORD[:APPNAME]\n"
    "                       the app under WEBPATH, its app password, and its app name (default: the last\n"
    "                       segment of WEBPATH); browsers log in to it through /platform/login. The last\n"
    "                       colon starts APPNAME, so a password with colons needs APPNAME after it.\n"
    "                       With one app, \"/\" redirects to it. Repeatable (default: none).\n"
    "  --users=FILE         who may log in from a browser, one person a line:\n"
    "                         sip:password:display name[:topics=a,b][:groups=g,h][:admin]\n"
    "                       (default: none, so nobody)\n"
    "  --open-login         anyone logs in under the name they give, as an administrator\n"
    "                       (a single person on their own machine; default off)\n"
    "  -h, --help           prints this and exits\n"
    "It says on standard output when it is ready and when it has stopped; its traces go to standard error.\n";

bool SplitAddress(const std::string& text, std::string& address, unsigned short& port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 == text.size()) return false;
    address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
    if (address.empty()) return false;
    char* end;
    unsigned long p = strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end || p > 65535) return false;
    port = (unsigned short)p;
    return true;
}

std::string ParseOptions(int argc, char** argv, Options& o)
{
    std::string address;
    unsigned short port;
    for (int n = 1; n < argc; n++) {
        if (!strcmp(argv[n], "--help") || !strcmp(argv[n], "-h")) {
            o.help = true;
            return std::string();
        }
        const char* arg = argv[n];
        const char* v;
        if ((v = Match(arg, "http"))) o.http = v;
        else if ((v = Match(arg, "https"))) o.https = v;
        else if ((v = Match(arg, "cert"))) o.cert = v;
        else if ((v = Match(arg, "key"))) o.key = v;
        else if ((v = Match(arg, "plugins"))) o.plugins = v;
        else if ((v = Match(arg, "users"))) o.usersFile = v;
        else if (!strcmp(arg, "--open-login")) o.openLogin = true;
        else if ((v = Match(arg, "app"))) {
            if (!ParseApp(v, o)) return std::string("bad --app=") + v + " (want WEBPATH:PASSWORD[:APPNAME])";
        }
        else return std::string("unknown argument ") + arg;
    }
    if (!SplitAddress(o.http, address, port)) return "bad --http=" + o.http;
    if (!o.https.empty()) {
        if (!SplitAddress(o.https, address, port)) return "bad --https=" + o.https;
        if (o.cert.empty() || o.key.empty()) return "--https needs --cert and --key";
    }
    if (o.plugins.empty()) return "empty --plugins";
    if (!o.usersFile.empty() && o.openLogin) return "--users and --open-login exclude each other";
    return std::string();
}

}  // namespace wsp
