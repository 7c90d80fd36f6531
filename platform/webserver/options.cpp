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

}  // namespace

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
            // The password may hold colons; the web path may not.
            const char* colon = strchr(v, ':');
            if (!colon || colon == v || v[0] != '/') return std::string("bad --app=") + v + " (want WEBPATH:PASSWORD)";
            o.apps.emplace_back(std::string(v, colon), colon + 1);
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
