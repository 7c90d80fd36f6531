#include <string.h>

#include "runtime/assert.h"
#include "web/extended_header.h"
#include "web/webserver_plugin_link.h"
#include "web/ws_registered_path.h"

namespace {
const char* const DYNAMIC_AUTHENTICATION = "<dynamic authentication activated>";

const char* PathTypeName(wsp_path_type_t type)
{
    switch (type) {
    case WSP_PATH_TYPE_HTTP: return "http";
    case WSP_PATH_TYPE_WEBSOCKET: return "websocket";
    case WSP_PATH_TYPE_PASSTHROUGH: return "passthrough";
    }
    return "?";
}

unsigned RegisterMessage(wsp_path_type_t type)
{
    switch (type) {
    case WSP_PATH_TYPE_HTTP: return WSM_REGISTER;
    case WSP_PATH_TYPE_WEBSOCKET: return WSM_WEBSOCKET_LISTEN;
    case WSP_PATH_TYPE_PASSTHROUGH: return WSM_REGISTER_PASSTHROUGH;
    }
    FATAL("WebserverPlugin unknown path type");
}
}  // namespace

std::string WebserverPlugin::FullPath(const char* relative, std::string& relativeOut) const
{
    const char* p = relative ? relative : "";
    while (*p == ' ' || *p == '\t' || *p == '/') p++;
    relativeOut = p;
    if (!*p) return webRoot;
    return (webRoot == "/" ? std::string() : webRoot) + "/" + p;
}

void WebserverPlugin::AddPath(istd::list& list, wsp_path_type_t type, const char* path, UWebserverPlugin* to,
                              const char* authUser, const char* authPassword, const char* staticFilePrefix)
{
    std::string relative;
    std::string full = FullPath(path, relative);
    ASSERT(full.size() <= WS_MAX_PATH_LEN, "WebserverPlugin path too long");
    ASSERT(!FindPath(list, full.c_str()), "WebserverPlugin path registered twice");
    bool dynamic = authUser && !strcmp(authUser, DYNAMIC_AUTHENTICATION);
    ExtendedHeader eh;
    eh.SetString(DDT_PATH_TO_REGISTER, full.c_str());
    if (authUser && !dynamic) eh.SetString(DDT_AUTH_USER, authUser);
    if (authPassword) eh.SetString(DDT_AUTH_PASSWORD, authPassword);
    if (dynamic) eh.SetFlag(DDT_DYNAMIC_AUTHENTICATION);
    auto* p = new WSRegisteredPath(to, type, full, relative, staticFilePrefix, dynamic, eh.Encode());
    list.push_back(p);
    Log("WebserverPlugin(%08x)::Listen %s path %s", (unsigned)(size_t)this, PathTypeName(type), full.c_str());
    // While down, the path waits for the next connect, which sends all of them.
    if (Connected()) SendRegistration(p);
}

void WebserverPlugin::SendRegistration(WSRegisteredPath* path)
{
    SendFrame(WS_LINK_CONNECTION_ID, RegisterMessage(path->type), 0, path->registration.data(),
              path->registration.size());
    pendingRegistrations.push_back(new WSRegisterPathItem(path));
}

void WebserverPlugin::HttpListen(const char* path, UWebserverPlugin* to, const char* authUser,
                                 const char* authPassword, const char* staticFilePrefix)
{
    AddPath(httpPaths, WSP_PATH_TYPE_HTTP, path, to, authUser, authPassword, staticFilePrefix);
}

void WebserverPlugin::HttpListen(const char* path, UWebserverPlugin* to, bool dynamicAuthentication,
                                 const char* staticFilePrefix)
{
    AddPath(httpPaths, WSP_PATH_TYPE_HTTP, path, to, dynamicAuthentication ? DYNAMIC_AUTHENTICATION : nullptr,
            nullptr, staticFilePrefix);
}

void WebserverPlugin::PassthroughListen(const char* path, UWebserverPlugin* to)
{
    AddPath(passthroughPaths, WSP_PATH_TYPE_PASSTHROUGH, path, to, nullptr, nullptr, nullptr);
}

void WebserverPlugin::WebsocketListen(const char* path, UWebserverPlugin* to)
{
    AddPath(websocketPaths, WSP_PATH_TYPE_WEBSOCKET, path, to, nullptr, nullptr, nullptr);
}

WSRegisteredPath* WebserverPlugin::FindPath(const istd::list& list, const char* fullPath) const
{
    if (!fullPath) return nullptr;
    for (istd::listElement* e = list.front(); e; e = e->goNext()) {
        WSRegisteredPath* p = static_cast<WSRegisteredPath*>(e);
        if (p->fullPath == fullPath) return p;
    }
    return nullptr;
}

UWebserverPlugin* WebserverPlugin::OwnerOf(const WSRegisteredPath* path) const
{
    return path && path->owner ? path->owner : owner;
}

void WebserverPlugin::HandleRegisterResult(const WsFrame& f)
{
    WSRegisterPathItem* item = static_cast<WSRegisterPathItem*>(pendingRegistrations.front());
    if (!item) {
        Log("WARNING: IWebserverPlugin received unexpected message (%s) - ignoring", ws_message_name(f.type));
        return;
    }
    WSRegisteredPath* path = item->path;
    delete item;
    if (f.generalPurpose == 0) {
        if (UWebserverPlugin* o = OwnerOf(path)) o->WebserverPluginRegisterPathResult(this, path->fullPath.c_str(), path->type);
        return;
    }
    if (f.generalPurpose == 1) {
        Log("WebserverPlugin::HandleRegisterResult(): Failed to register path %s (%s) - path is invalid.",
            path->fullPath.c_str(), PathTypeName(path->type));
        EndLink(WSP_REGISTER_PATH_INVALID);
        return;
    }
    Log("WebserverPlugin::HandleRegisterResult(): Failed to register path %s (%s) - path is already registered.",
        path->fullPath.c_str(), PathTypeName(path->type));
    EndLink(WSP_PATH_ALREADY_REGISTERD);
}

void WebserverPlugin::SetAuthConfig(const char* path, const char* user, const char* password)
{
    std::string relative;
    ExtendedHeader eh(wide);
    eh.SetString(DDT_PATH_TO_REGISTER, FullPath(path, relative).c_str());
    if (user) eh.SetString(DDT_AUTH_USER, user);
    if (password) eh.SetString(DDT_AUTH_PASSWORD, password);
    std::string body = eh.Encode();
    SendFrame(WS_LINK_CONNECTION_ID, WSM_SET_AUTH_CONFIG, 0, body.data(), body.size());
}

void WebserverPlugin::SetAuthConfig(const char* path, bool dynamicAuthentication)
{
    std::string relative;
    ExtendedHeader eh(wide);
    eh.SetString(DDT_PATH_TO_REGISTER, FullPath(path, relative).c_str());
    if (dynamicAuthentication) eh.SetFlag(DDT_DYNAMIC_AUTHENTICATION);
    std::string body = eh.Encode();
    SendFrame(WS_LINK_CONNECTION_ID, WSM_SET_AUTH_CONFIG, 0, body.data(), body.size());
}

void WebserverPlugin::HandleSetAuthConfigResult(const WsFrame& f, const ExtendedHeaderDecoder& eh)
{
    const char* path = eh.String(DDT_PATH_TO_REGISTER);
    if (!path) path = eh.String(DDT_REQUEST_PATH);
    std::string relative = path ? path : "";
    if (relative.compare(0, webRoot.size(), webRoot) == 0) relative.erase(0, webRoot.size());
    while (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
    if (owner) owner->SetAuthConfigResult(relative.c_str(), (ws_update_auth_result_t)f.generalPurpose);
}

void WebserverPlugin::HandleRequestUserPassword(const WsFrame& f, const ExtendedHeaderDecoder& eh)
{
    const WSRegisteredPath* path = FindPath(httpPaths, eh.String(DDT_REGISTERED_PATH_FOR_REQUEST));
    UWebserverPlugin* to = OwnerOf(path);
    if (!to) return;
    const char* resource = eh.String(DDT_REQUEST_PATH);
    std::string copy = resource ? resource : "";
    to->WebserverPluginRequestUserPassword(this, f.connectionId, &copy[0], path ? path->relativePath.c_str() : "",
                                           eh.String(DDT_AUTH_USER), eh.String(DDT_HOST));
}

void WebserverPlugin::RequestUserPasswordResult(unsigned id, const char* user, const char* password)
{
    ExtendedHeader eh(wide);
    if (user) eh.SetString(DDT_AUTH_USER, user);
    if (password) eh.SetString(DDT_AUTH_PASSWORD, password);
    std::string body = eh.Encode();
    SendFrame(id, WSM_REQUEST_USER_PASSWORD_RESULT, 0, body.data(), body.size());
}
