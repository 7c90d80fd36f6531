#include "platform/webserver/router.h"

#include <algorithm>

namespace wsp {

std::string Router::Normalize(const std::string& path)
{
    if (path.empty() || path[0] != '/' || path.size() > kMaxPathLength) return std::string();
    for (unsigned char c : path)
        if (c <= ' ' || c == '?' || c == '#' || c == 0x7f) return std::string();
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

RegisterResult Router::Register(PathType type, const std::string& path, Owner owner)
{
    std::string prefix = Normalize(path);
    if (prefix.empty()) return REGISTER_PATH_INVALID;
    for (auto& r : routes_)
        if (r.type == type && r.prefix == prefix) return REGISTER_ALREADY_REGISTERED;
    routes_.push_back(Route{type, path, prefix, owner});
    return REGISTER_OK;
}

void Router::RemoveOwner(Owner owner)
{
    routes_.erase(std::remove_if(routes_.begin(), routes_.end(), [owner](const Route& r) { return r.owner == owner; }),
                  routes_.end());
}

const Router::Route* Router::Match(PathType type, const std::string& path) const
{
    const Route* best = nullptr;
    for (auto& r : routes_) {
        if (r.type != type) continue;
        bool match = r.prefix == "/" ||
                     (path.compare(0, r.prefix.size(), r.prefix) == 0 &&
                      (path.size() == r.prefix.size() || path[r.prefix.size()] == '/'));
        if (match && (!best || r.prefix.size() > best->prefix.size())) best = &r;
    }
    return best;
}

std::string Router::Resource(const Route& route, const std::string& target)
{
    if (route.prefix == "/") return target;
    std::string rest = target.substr(route.prefix.size());
    // The registered path itself is the plugin's "/".
    return rest.empty() || rest[0] != '/' ? "/" + rest : rest;
}

}  // namespace wsp
