// The command line of platform-webserver.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wsp {

struct Options {
    std::string http = "127.0.0.1:8080";
    std::string https, cert, key;
    std::string plugins = "/var/run/webserver/webserver";
    std::vector<std::pair<std::string, std::string>> apps;  // web path, app password
    std::string usersFile;
    bool openLogin = false;
};

// Returns an error text, empty on success.
std::string ParseOptions(int argc, char** argv, Options& options);

// "ADDR:PORT", with [v6] in brackets; false when malformed.
bool SplitAddress(const std::string& text, std::string& address, unsigned short& port);

}  // namespace wsp
