// Registered paths of all connected plugins, and longest-prefix routing of request paths.
#pragma once

#include <string>
#include <vector>

#include "platform/webserver/plugin_protocol.h"

namespace wsp {

class Router {
public:
    using Owner = const void*;

    struct Route {
        PathType type;
        std::string registered;  // as the plugin sent it, echoed back in requests
        std::string prefix;      // normalized: leading "/", no trailing "/" except for the root
        Owner owner;
    };

    // The normalized form of a registration, or empty when the path is not acceptable.
    static std::string Normalize(const std::string& path);

    RegisterResult Register(PathType type, const std::string& path, Owner owner);
    void RemoveOwner(Owner owner);
    // The route of `type` whose prefix is the longest one matching `path` on a segment boundary.
    const Route* Match(PathType type, const std::string& path) const;
    // What remains of `target` (path and query) below the route, always starting with "/".
    static std::string Resource(const Route& route, const std::string& target);

private:
    std::vector<Route> routes_;
};

}  // namespace wsp
