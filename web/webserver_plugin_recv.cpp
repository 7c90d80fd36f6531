#include <string.h>

#include "runtime/assert.h"
#include "web/extended_header.h"
#include "web/httpfile.h"
#include "web/webserver_get_handler.h"
#include "web/webserver_options_handler.h"
#include "web/webserver_passthrough_handler.h"
#include "web/webserver_plugin_link.h"
#include "web/webserver_post_handler.h"
#include "web/webserver_webdav_handler.h"
#include "web/webserver_websocket_handler.h"
#include "web/ws_registered_path.h"

namespace {
std::string BareETag(const char* etag)
{
    std::string tag = etag ? etag : "";
    if (tag.compare(0, 2, "W/") == 0) tag.erase(0, 2);
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"') tag = tag.substr(1, tag.size() - 2);
    return tag;
}

// The handler for a request message other than GET, or null for a type that is not a request.
WebserverMessageHandler* CreateRequestHandler(WebserverPlugin* link, unsigned type, unsigned id,
                                              WebserverRequestInfo info, bool wide)
{
    switch (type) {
    case WSM_POST_REQUEST: return new WebserverPostHandler(link, id, std::move(info), wide);
    case WSM_OPTIONS_REQUEST: return new WebserverOptionsHandler(link, id, std::move(info), wide);
    case WSM_PASSTHROUGH_REQUEST: return new WebserverPassthroughHandler(link, id, std::move(info), wide);
    case WSM_PUT_REQUEST:
        return new WebserverPutHandler(link, "WebserverPutHandler", id, WS_REQUEST_PUT, std::move(info), wide);
    case WSM_PROPFIND_REQUEST:
        return new WebserverPropfindHandler(link, "WebserverPropfindHandler", id, WS_REQUEST_PROPFIND, std::move(info),
                                            wide);
    case WSM_MOVE_REQUEST:
        return new WebserverMoveHandler(link, "WebserverMoveHandler", id, WS_REQUEST_MOVE, std::move(info), wide);
    case WSM_COPY_REQUEST:
        return new WebserverCopyHandler(link, "WebserverCopyHandler", id, WS_REQUEST_COPY, std::move(info), wide);
    case WSM_MKCOL_REQUEST:
        return new WebserverMkColHandler(link, "WebserverMkColHandler", id, WS_REQUEST_MKCOL, std::move(info), wide);
    case WSM_DELETE_REQUEST:
        return new WebserverDeleteHandler(link, "WebserverDeleteHandler", id, WS_REQUEST_DELETE, std::move(info),
                                          wide);
    case WSM_LOCK_REQUEST:
        return new WebserverLockHandler(link, "WebserverLockHandler", id, WS_REQUEST_LOCK, std::move(info), wide);
    case WSM_UNLOCK_REQUEST:
        return new WebserverUnlockHandler(link, "WebserverUnlockHandler", id, WS_REQUEST_UNLOCK, std::move(info),
                                          wide);
    case WSM_PROPPATCH_REQUEST:
        return new WebserverProppatchHandler(link, "WebserverProppatchHandler", id, WS_REQUEST_PROPPATCH,
                                             std::move(info), wide);
    }
    return nullptr;
}

bool CarriesExtendedHeader(unsigned type)
{
    switch (type) {
    case WSM_GET_REQUEST:
    case WSM_POST_REQUEST:
    case WSM_PUT_REQUEST:
    case WSM_PASSTHROUGH_REQUEST:
    case WSM_WEBSOCKET_LISTEN_RESULT:
    case WSM_REQUEST_USER_PASSWORD:
    case WSM_SET_AUTH_CONFIG_RESULT:
        return true;
    }
    return type >= WSM_PROPFIND_REQUEST && type <= WSM_PROPPATCH_REQUEST;
}
}  // namespace

void WebserverPlugin::HandleLinkMessage(void* body)
{
    ExtendedHeaderDecoder eh;
    if (CarriesExtendedHeader(frame.type) && !eh.Decode(body, frame.dataSize, wide)) {
        LinkError("malformed extended header", body, frame.dataSize);
        return;
    }
    switch (frame.type) {
    case WSM_GET_REQUEST: HandleGetRequest(eh); return;
    case WSM_WEBSOCKET_LISTEN_RESULT: HandleWebsocketListenResult(eh); return;
    case WSM_REGISTER_RESULT: HandleRegisterResult(frame); return;
    case WSM_REQUEST_USER_PASSWORD: HandleRequestUserPassword(frame, eh); return;
    case WSM_SET_AUTH_CONFIG_RESULT: HandleSetAuthConfigResult(frame, eh); return;
    case WSM_SET_PLUGINS_WEB_ROOT_RESULT:
        wide = frame.generalPurpose != 0;
        Log("WebserverPlugin(%08x)::SocketRecvResult wide sizes %s", (unsigned)(size_t)this, wide ? "on" : "off");
        return;
    // Late answers for requests that have ended here already.
    case WSM_SEND_RESULT:
    case WSM_SHUTDOWN_COMPLETE:
    case WSM_WEBSOCKET_MESSAGE:
    case WSM_SHUTDOWN:
        return;
    }
    if (CarriesExtendedHeader(frame.type)) {
        HandleRequest(eh);
        return;
    }
    Log("WARNING: IWebserverPlugin received unexpected message (%s) - ignoring", ws_message_name(frame.type));
}

WebserverRequestInfo WebserverPlugin::RequestInfo(const ExtendedHeaderDecoder& eh, const WSRegisteredPath* path) const
{
    WebserverRequestInfo info;
    const char* resource = eh.String(DDT_REQUEST_PATH);
    info.resourceName = resource ? resource : "";
    info.registeredPath = path ? path->relativePath : "";
    info.etag = BareETag(eh.String(DDT_ETAG));
    info.host = eh.String(DDT_HOST) ? eh.String(DDT_HOST) : "";
    info.headerFields = eh.HeaderFields();
    info.connectionFlags = eh.U32(DDT_CONNECTION_FLAGS);
    info.dataSize = eh.DataSize();
    for (unsigned i = 0; i < eh.RangeCount(); i++) info.ranges.push_back(eh.Range(i));
    return info;
}

void WebserverPlugin::HandleGetRequest(const ExtendedHeaderDecoder& eh)
{
    const char* registered = eh.String(DDT_REGISTERED_PATH_FOR_REQUEST);
    const WSRegisteredPath* path = FindPath(httpPaths, registered);
    const char* resource = eh.String(DDT_REQUEST_PATH);
    if (!path || !resource || !*resource) {
        if (!path) Log("The path for the request (%s) seems to be not registered.", registered ? registered : "");
        SendFrame(frame.connectionId, WSM_SEND_META_DATA, WSP_CANCEL_BAD_REQUEST, nullptr, 0);
        return;
    }
    auto* h = new WebserverGetHandler(this, frame.connectionId, RequestInfo(eh, path), wide);
    if (path->hasStaticFiles) {
        std::string name = path->StaticFileName(resource);
        const HttpFile* file = name.empty() ? nullptr : HttpFiles::Find(name.c_str());
        if (file && !file->Hidden()) {
            AcceptStatic(h, file);
            return;
        }
    }
    Offer(h, OFFER_HTTP, OwnerOf(path));
}

void WebserverPlugin::HandleRequest(const ExtendedHeaderDecoder& eh)
{
    bool passthrough = frame.type == WSM_PASSTHROUGH_REQUEST;
    const char* registered = eh.String(DDT_REGISTERED_PATH_FOR_REQUEST);
    const WSRegisteredPath* path = FindPath(passthrough ? passthroughPaths : httpPaths, registered);
    const char* resource = eh.String(DDT_REQUEST_PATH);
    if (!path || !resource || !*resource) {
        if (!path)
            Log("WebserverPlugin::HandleRequest(): got request %s for not registered path %s",
                ws_message_name(frame.type), registered ? registered : "");
        SendFrame(frame.connectionId, WSM_SEND_META_DATA, WSP_CANCEL_BAD_REQUEST, nullptr, 0);
        return;
    }
    WebserverMessageHandler* h = CreateRequestHandler(this, frame.type, frame.connectionId, RequestInfo(eh, path), wide);
    ASSERT(h, "WebserverPlugin::HandleRequest no handler for a request type");
    Offer(h, passthrough ? OFFER_PASSTHROUGH : OFFER_HTTP, OwnerOf(path));
}

void WebserverPlugin::HandleWebsocketListenResult(const ExtendedHeaderDecoder& eh)
{
    const char* key = eh.String(DDT_REGISTERED_PATH_FOR_REQUEST);
    if (!key) key = eh.String(DDT_REQUEST_PATH);
    const WSRegisteredPath* path = FindPath(websocketPaths, key);
    if (!path) {
        Log("WebserverPlugin::SocketRecvResult(): websocket listen result for not registered path %s", key ? key : "");
        SendFrame(frame.connectionId, WSM_WEBSOCKET_MESSAGE, WSW_REJECT, nullptr, 0);
        return;
    }
    auto* h = new WebserverWebsocketHandler(this, frame.connectionId, RequestInfo(eh, path), wide);
    Offer(h, OFFER_WEBSOCKET, OwnerOf(path));
}
