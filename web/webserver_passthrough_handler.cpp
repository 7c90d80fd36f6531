#include "web/webserver_passthrough_handler.h"

#include "runtime/assert.h"

WebserverPassthroughHandler::WebserverPassthroughHandler(WebserverPlugin* link, unsigned connectionId,
                                                         WebserverRequestInfo info, bool wide)
    : WebserverMessageHandler(link, "WebserverPassthroughHandler", connectionId, WS_REQUEST_PASSTHROUGH,
                              std::move(info), wide)
{
}

void WebserverPassthroughHandler::AcceptComplete()
{
    user->WebserverPassthroughRequestAcceptComplete(this);
}

void WebserverPassthroughHandler::SendResult()
{
    user->WebserverPassthroughSendResult(this);
}

void* WebserverPassthroughHandler::RecvBuffer(size_t len)
{
    return user->WebserverPassthroughRecvBuffer(len);
}

void WebserverPassthroughHandler::RecvResult(void* buffer, size_t len)
{
    user->WebserverPassthroughRecvResult(this, buffer, len);
}

void WebserverPassthroughHandler::RecvCanceled(void* buffer)
{
    user->WebserverPassthroughRecvCanceled(this, buffer);
}

void WebserverPassthroughHandler::CloseComplete()
{
    ASSERT(user, "WebserverPassthroughHandler::CloseComplete without an owner");
    user->WebserverPassthroughCloseComplete(this);
}
