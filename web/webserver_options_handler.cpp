#include "web/webserver_options_handler.h"

#include <string>

#include "runtime/assert.h"

namespace {
struct Method {
    unsigned bit;
    const char* name;
};
const Method methods[] = {
    {WS_REQUEST_GET, "GET"},         {WS_REQUEST_POST, "POST"},         {WS_REQUEST_PUT, "PUT"},
    {WS_REQUEST_PROPFIND, "PROPFIND"}, {WS_REQUEST_MOVE, "MOVE"},         {WS_REQUEST_COPY, "COPY"},
    {WS_REQUEST_MKCOL, "MKCOL"},     {WS_REQUEST_DELETE, "DELETE"},     {WS_REQUEST_OPTIONS, "OPTIONS"},
    {WS_REQUEST_LOCK, "LOCK"},       {WS_REQUEST_UNLOCK, "UNLOCK"},     {WS_REQUEST_PROPPATCH, "PROPPATCH"},
};
}  // namespace

WebserverOptionsHandler::WebserverOptionsHandler(WebserverPlugin* link, unsigned connectionId,
                                                 WebserverRequestInfo info, bool wide)
    : WebserverMessageHandler(link, "WebserverOptionsHandler", connectionId, WS_REQUEST_OPTIONS, std::move(info),
                              wide)
{
}

void WebserverOptionsHandler::SetSupportedRequests(unsigned requests)
{
    // The protocol has no item for it; the webserver passes header fields on as they are.
    std::string allow;
    for (const Method& m : methods) {
        if (!(requests & m.bit)) continue;
        if (!allow.empty()) allow += ", ";
        allow += m.name;
    }
    SetHeaderField("Allow", allow.c_str());
}

void WebserverOptionsHandler::AcceptComplete()
{
    user->WebserverOptionsRequestAcceptComplete(this);
}

void WebserverOptionsHandler::CloseComplete()
{
    ASSERT(user, "WebserverOptionsHandler::CloseComplete without an owner");
    user->WebserverOptionsCloseComplete(this);
}
