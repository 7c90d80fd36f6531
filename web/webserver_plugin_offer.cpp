#include <ctype.h>
#include <string.h>

#include "runtime/assert.h"
#include "web/extended_header.h"
#include "web/webserver_get_handler.h"
#include "web/webserver_options_handler.h"
#include "web/webserver_passthrough_handler.h"
#include "web/webserver_plugin_link.h"
#include "web/webserver_post_handler.h"
#include "web/webserver_static_file.h"
#include "web/webserver_webdav_handler.h"
#include "web/webserver_websocket_handler.h"

void WebserverPlugin::Offer(WebserverMessageHandler* h, OfferKind kind, UWebserverPlugin* to)
{
    offered = h;
    char* resource = &h->info.resourceName[0];
    const char* registered = h->info.registeredPath.c_str();
    if (!to) Cancel(WSP_CANCEL_NOT_FOUND);
    else if (kind == OFFER_HTTP) {
        to->WebserverPluginHttpListenResult(this, (ws_request_type_t)h->RequestType(), resource, registered,
                                            h->info.dataSize);
        ASSERT(!offered, h->RequestType() == WS_REQUEST_GET
                             ? "WebserverPlugin::HandleGetRequest no Accept or Cancel in "
                               "UWebserverPlugin::WebserverPluginHttpListenResult called!"
                             : "WebserverPlugin::HandleRequest no Accept or Cancel in "
                               "UWebserverPlugin::WebserverPluginHttpListenResult called!");
    }
    else if (kind == OFFER_PASSTHROUGH) {
        to->WebserverPluginPassthroughListenResult(this, resource, registered, h->info.dataSize);
        ASSERT(!offered, "WebserverPlugin::HandleRequest no Accept or Cancel in "
                         "UWebserverPlugin::WebserverPluginPassthroughListenResult called!");
    }
    else {
        to->WebserverPluginWebsocketListenResult(this, resource, registered, h->info.host.c_str());
        ASSERT(!offered, "WebserverPlugin::HandleWebsocketListenResult no Accept or Cancel in "
                         "UWebserverPlugin::WebserverPluginWebsocketListenResult called!");
    }
    // The owner may have used the resource name right up to its return, so a
    // refused handler goes only now.
    WebserverMessageHandler* accepted = offerAccepted;
    WebserverMessageHandler* dropped = offerDropped;
    offerAccepted = offerDropped = nullptr;
    delete dropped;
    // A websocket's acceptance is completed by the webserver's own message.
    if (accepted && accepted->RequestType() && accepted->GetState() == WebserverMessageHandler::ACCEPTED)
        accepted->AcceptComplete();
}

void WebserverPlugin::AcceptStatic(WebserverMessageHandler* h, const HttpFile* file)
{
    static_cast<WebserverGetHandler*>(h)->SetUser(new WebserverStaticFile(file));
    h->ownedByLink = true;
    Bind(h);
    h->AcceptComplete();
}

WebserverMessageHandler* WebserverPlugin::Offered(unsigned requestType, const char* what) const
{
    ASSERT(offered, what);
    ASSERT(offered->RequestType() == requestType, "WebserverPlugin::Accept does not match the offered request");
    return offered;
}

void WebserverPlugin::Bind(WebserverMessageHandler* h)
{
    h->Accepted();
    handlers = btree::btree_put(handlers, h);
    // The tree keeps an older handler of the same id: the next look-up asks it.
    recentHandlers[h->ConnectionId() % RECENT_HANDLERS] = nullptr;
}

void WebserverPlugin::DropOffered()
{
    offered->Dropped();
    offerDropped = offered;
    offered = nullptr;
}

void WebserverPlugin::Refuse(const char* userType)
{
    Log("WebserverPlugin(connection id: %u)::Accept(%s * = nullptr) rejecting request", offered->ConnectionId(),
        userType);
    Cancel(WSP_CANCEL_NOT_FOUND);
}

template <class H, class U>
void WebserverPlugin::AcceptAs(U* user, unsigned requestType, const char* userType)
{
    WebserverMessageHandler* h = Offered(requestType, "WebserverPlugin::Accept without an offered request");
    if (!user) {
        Refuse(userType);
        return;
    }
    static_cast<H*>(h)->SetUser(user);
    Bind(h);
    offerAccepted = h;
    offered = nullptr;
}

void WebserverPlugin::Accept(UWebserverGet* user)
{
    AcceptAs<WebserverGetHandler>(user, WS_REQUEST_GET, "UWebserverGet");
}

void WebserverPlugin::Accept(UWebserverPost* user)
{
    AcceptAs<WebserverPostHandler>(user, WS_REQUEST_POST, "UWebserverPost");
}

void WebserverPlugin::Accept(UWebserverPut* user)
{
    AcceptAs<WebserverPutHandler>(user, WS_REQUEST_PUT, "UWebserverPut");
}

void WebserverPlugin::Accept(UWebserverPassthrough* user)
{
    AcceptAs<WebserverPassthroughHandler>(user, WS_REQUEST_PASSTHROUGH, "UWebserverPassthrough");
}

void WebserverPlugin::Accept(UWebserverPropfind* user)
{
    AcceptAs<WebserverPropfindHandler>(user, WS_REQUEST_PROPFIND, "UWebserverPropfind");
}

void WebserverPlugin::Accept(UWebserverMove* user)
{
    AcceptAs<WebserverMoveHandler>(user, WS_REQUEST_MOVE, "UWebserverMove");
}

void WebserverPlugin::Accept(UWebserverMkCol* user)
{
    AcceptAs<WebserverMkColHandler>(user, WS_REQUEST_MKCOL, "UWebserverMkCol");
}

void WebserverPlugin::Accept(UWebserverCopy* user)
{
    AcceptAs<WebserverCopyHandler>(user, WS_REQUEST_COPY, "UWebserverCopy");
}

void WebserverPlugin::Accept(UWebserverDelete* user)
{
    AcceptAs<WebserverDeleteHandler>(user, WS_REQUEST_DELETE, "UWebserverDelete");
}

void WebserverPlugin::Accept(UWebserverLock* user)
{
    AcceptAs<WebserverLockHandler>(user, WS_REQUEST_LOCK, "UWebserverLock");
}

void WebserverPlugin::Accept(UWebserverUnlock* user)
{
    AcceptAs<WebserverUnlockHandler>(user, WS_REQUEST_UNLOCK, "UWebserverUnlock");
}

void WebserverPlugin::Accept(UWebserverProppatch* user)
{
    AcceptAs<WebserverProppatchHandler>(user, WS_REQUEST_PROPPATCH, "UWebserverProppatch");
}

void WebserverPlugin::Accept(UWebserverOptions* user)
{
    AcceptAs<WebserverOptionsHandler>(user, WS_REQUEST_OPTIONS, "UWebserverOptions");
}

void WebserverPlugin::WebsocketAccept(UWebsocket* user)
{
    AcceptAs<WebserverWebsocketHandler>(user, 0, "UWebsocket");
}

void WebserverPlugin::Cancel(wsr_cancel_type_t reason)
{
    ASSERT(offered, "WebserverPlugin::Cancel without an offered request");
    if (offered->RequestType() == 0) SendFrame(offered->ConnectionId(), WSM_WEBSOCKET_MESSAGE, WSW_REJECT, nullptr, 0);
    else SendFrame(offered->ConnectionId(), WSM_SEND_META_DATA, reason, nullptr, 0);
    DropOffered();
}

void WebserverPlugin::Redirect(const char* newDestination)
{
    ASSERT(offered, "WebserverPlugin::Redirect without an offered request");
    ASSERT(offered->RequestType() != 0, "WebserverPlugin::Redirect not allowed for websocket requests");
    ASSERT(newDestination && *newDestination, "WebserverPlugin::Redirect without a destination");
    ExtendedHeader eh(wide);
    eh.SetString(DDT_REDIRECT_PATH, newDestination);
    std::string body = eh.Encode();
    SendFrame(offered->ConnectionId(), WSM_SEND_META_DATA, 1, body.data(), body.size());
    DropOffered();
}

bool WebserverPlugin::BuildRedirect(const char* resource, const char* build, unsigned buildLength)
{
    if (!resource || resource[0] != '/') return false;
    // A browser resolves the relative target against the path alone, so the
    // query's slashes do not count.
    size_t pathLen = strcspn(resource, "?");
    // Only a whole first segment names the current build: "/10/" is another build than "1".
    if (!strncmp(resource + 1, build, buildLength) && (resource[1 + buildLength] == '/' || 1 + buildLength == pathLen))
        return false;
    std::string target;
    for (size_t i = 1; i < pathLen; i++)
        if (resource[i] == '/') target += "../";
    if (target.empty()) target = "./";
    target.append(build, buildLength);
    const char* rest = resource;
    // A first segment that begins with a digit names an older build.
    if (isdigit((unsigned char)resource[1])) {
        const char* slash = strchr(resource + 1, '/');
        rest = slash && (size_t)(slash - resource) < pathLen ? slash : resource + pathLen;
    }
    target += rest;
    if (target.size() > WS_MAX_PATH_LEN) return false;
    Redirect(target.c_str());
    return true;
}
