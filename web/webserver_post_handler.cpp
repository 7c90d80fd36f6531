#include "web/webserver_post_handler.h"

#include "runtime/assert.h"

WebserverPostHandler::WebserverPostHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info,
                                           bool wide)
    : WebserverMessageHandler(link, "WebserverPostHandler", connectionId, WS_REQUEST_POST, std::move(info), wide)
{
}

const char* WebserverPostHandler::GetHeaderFieldValue(const char* name)
{
    return WebserverMessageHandler::GetHeaderFieldValue(name);
}

void WebserverPostHandler::SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags,
                                           const char* etag)
{
    transferInfoSet = true;
    WebserverMessageHandler::SetTransferInfo(type, dataSize, flags, etag);
}

void WebserverPostHandler::ForceDownloadResponse(const char* fileName)
{
    WebserverMessageHandler::ForceDownloadResponse(fileName);
}

void WebserverPostHandler::SetHeaderField(const char* name, const char* value)
{
    WebserverMessageHandler::SetHeaderField(name, value);
}

void WebserverPostHandler::Cancel(wsr_cancel_type_t reason)
{
    WebserverMessageHandler::Cancel(reason);
}

void WebserverPostHandler::Send(const void* data, size_t len)
{
    ASSERT(transferInfoSet,
           "IWebserverPost::Send() called without sending content length. Call IWebserverPost::SetTransferInfo() "
           "first.");
    WebserverMessageHandler::Send(data, len);
}

void WebserverPostHandler::Recv(void* buffer, size_t size)
{
    WebserverMessageHandler::Recv(buffer, size);
}

void WebserverPostHandler::Close()
{
    WebserverMessageHandler::Close();
}

void WebserverPostHandler::AcceptComplete()
{
    user->WebserverPostRequestAcceptComplete(this);
}

void WebserverPostHandler::SendResult()
{
    user->WebserverPostSendResult(this);
}

void* WebserverPostHandler::RecvBuffer(size_t len)
{
    return user->WebserverPostRecvBuffer(len);
}

void WebserverPostHandler::RecvResult(void* buffer, size_t len)
{
    user->WebserverPostRecvResult(this, buffer, len);
}

void WebserverPostHandler::RecvCanceled(void* buffer)
{
    user->WebserverPostRecvCanceled(this, buffer);
}

void WebserverPostHandler::CloseComplete()
{
    ASSERT(user, "WebserverPostHandler::CloseComplete without an owner");
    user->WebserverPostCloseComplete(this);
}
