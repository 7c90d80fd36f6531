#include "web/webserver_get_handler.h"

#include "runtime/assert.h"

WebserverGetHandler::WebserverGetHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info,
                                         bool wide)
    : WebserverMessageHandler(link, "WebserverGetHandler", connectionId, WS_REQUEST_GET, std::move(info), wide)
{
}

HTTPRange WebserverGetHandler::GetRange(unsigned index)
{
    ASSERT(index < info.ranges.size(), "IWebserverGet::GetRange() index out of range");
    return info.ranges[index];
}

void WebserverGetHandler::SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags,
                                          const char* etag)
{
    WebserverMessageHandler::SetTransferInfo(type, dataSize, flags, etag);
}

void WebserverGetHandler::SetTransferRange(unsigned long long start, unsigned long long end)
{
    if (rangeSet) {
        Log("WARNING: IWebserverGet::SetTransferRange() called multiple times!");
        return;
    }
    rangeSet = true;
    HTTPRange range = {HTTP_RANGE_START_END, start, end};
    meta.SetRanges(&range, 1);
}

void WebserverGetHandler::ForceDownloadResponse(const char* fileName)
{
    WebserverMessageHandler::ForceDownloadResponse(fileName);
}

void WebserverGetHandler::SetHeaderField(const char* name, const char* value)
{
    WebserverMessageHandler::SetHeaderField(name, value);
}

const char* WebserverGetHandler::GetHeaderFieldValue(const char* name)
{
    return WebserverMessageHandler::GetHeaderFieldValue(name);
}

void WebserverGetHandler::Send(const void* data, size_t len)
{
    WebserverMessageHandler::Send(data, len);
}

void WebserverGetHandler::Cancel(wsr_cancel_type_t reason)
{
    WebserverMessageHandler::Cancel(reason);
}

void WebserverGetHandler::Close()
{
    WebserverMessageHandler::Close();
}

void WebserverGetHandler::AcceptComplete()
{
    user->WebserverGetRequestAcceptComplete(this);
}

void WebserverGetHandler::SendResult()
{
    user->WebserverGetSendResult(this);
}

void WebserverGetHandler::CloseComplete()
{
    ASSERT(user, "WebserverGetHandler::CloseComplete without an owner");
    user->WebserverGetCloseComplete(this);
}
