#include "web/webserver_webdav_handler.h"

#include "runtime/assert.h"

WebserverWebdavHandlerBase::WebserverWebdavHandlerBase(WebserverPlugin* link, const char* name, unsigned connectionId,
                                                       unsigned requestType, WebserverRequestInfo info, bool wide)
    : WebserverMessageHandler(link, name, connectionId, requestType, std::move(info), wide)
{
}

unsigned WebserverWebdavHandlerBase::PrepareMetaData()
{
    // The result code rides in the general purpose field; an empty body there
    // would read as a cancel, so the answer always says something.
    meta.SetTransferInfo(WSP_RESPONSE_NO_TYPE, 0, WS_SIZE_CHUNKED);
    return resultCode;
}

void WebserverWebdavHandlerBase::AcceptComplete()
{
    user->WebserverWebdavRequestAcceptComplete(Interface());
}

void WebserverWebdavHandlerBase::SendResult()
{
    user->WebserverWebdavSendResult(Interface());
}

void* WebserverWebdavHandlerBase::RecvBuffer(size_t len)
{
    return user->WebserverWebdavRecvBuffer(len);
}

void WebserverWebdavHandlerBase::RecvResult(void* buffer, size_t len)
{
    user->WebserverWebdavRecvResult(Interface(), buffer, len);
}

void WebserverWebdavHandlerBase::RecvCanceled(void* buffer)
{
    user->WebserverWebdavRecvCanceled(Interface(), buffer);
}

void WebserverWebdavHandlerBase::CloseComplete()
{
    ASSERT(user, "WebserverWebdavHandler::CloseComplete without an owner");
    user->WebserverWebdavCloseComplete(Interface());
}
