// The command line of platform-webserver.
#pragma once

#include <string>
#include <vector>

namespace wsp {

// An app the browser login serves: its web path, app password and app name.
struct AppOption {
    std::string path, password, name;
};

struct Options {
    std::string http = "127.0.0.1:8080";
    std::string https, cert, key;
    std::string plugins = "/var/run/webserver/webserver";
    std::vector<AppOption> apps;
    std::string usersFile;
    bool openLogin = false;
    bool help = false;
};

// What --help prints.
extern const char* const kUsage;

// Returns an error text, empty on success.
std::string ParseOptions(int argc, char** argv, Options& options);

// "ADDR:PORT", with [v6] in brackets; false when malformed.
bool SplitAddress(const std::string& text, std::string& address, unsigned short& port);

}  // namespace wsp
