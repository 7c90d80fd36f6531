#pragma once

#include "web/webserver_message_handler.h"
#include "web/webserver_webdav.h"

// What PUT and the WebDAV handlers have in common.
class WebserverWebdavHandlerBase : public WebserverMessageHandler {
public:
    WebserverWebdavHandlerBase(WebserverPlugin* link, const char* name, unsigned connectionId, unsigned requestType,
                               WebserverRequestInfo info, bool wide);
    void SetUser(UWebserverWebdav* u) { user = u; }
    bool IsWebdavHandler() const override { return true; }
    void AcceptComplete() override;

protected:
    // The interface the owner knows this request by.
    virtual IWebserverWebdav* Interface() = 0;
    unsigned PrepareMetaData() override;
    void SendResult() override;
    void* RecvBuffer(size_t len) override;
    void RecvResult(void* buffer, size_t len) override;
    void RecvCanceled(void* buffer) override;
    void CloseComplete() override;

    UWebserverWebdav* user = nullptr;
    webdav_result_t resultCode = WEBDAV_RESULT_OK;
};

template <class I>
class WebserverWebdavHandler : public WebserverWebdavHandlerBase, public I {
public:
    WebserverWebdavHandler(WebserverPlugin* link, const char* name, unsigned connectionId, unsigned requestType,
                           WebserverRequestInfo info, bool wide)
        : WebserverWebdavHandlerBase(link, name, connectionId, requestType, std::move(info), wide)
    {
    }
    const char* GetResourceName() override { return info.resourceName.c_str(); }
    const char* GetRegisteredPathForRequest() override { return info.registeredPath.c_str(); }
    const char* GetHeaderFieldValue(const char* n) override { return WebserverMessageHandler::GetHeaderFieldValue(n); }
    unsigned long long GetDataSize() override { return info.dataSize; }
    bool DataIsChunkEncoded() override { return info.dataSize == WS_SIZE_CHUNKED; }
    void SetResultCode(webdav_result_t code) override { resultCode = code; }
    void SetHeaderField(const char* n, const char* v) override { WebserverMessageHandler::SetHeaderField(n, v); }
    void Send(const void* data, size_t len) override { WebserverMessageHandler::Send(data, len); }
    void Recv(void* buffer, size_t size) override { WebserverMessageHandler::Recv(buffer, size); }
    void Cancel(wsr_cancel_type_t reason) override { WebserverMessageHandler::Cancel(reason); }
    void Close() override { WebserverMessageHandler::Close(); }

protected:
    IWebserverWebdav* Interface() override { return static_cast<I*>(this); }
};

using WebserverPutHandler = WebserverWebdavHandler<IWebserverPut>;
using WebserverPropfindHandler = WebserverWebdavHandler<IWebserverPropfind>;
using WebserverMoveHandler = WebserverWebdavHandler<IWebserverMove>;
using WebserverCopyHandler = WebserverWebdavHandler<IWebserverCopy>;
using WebserverMkColHandler = WebserverWebdavHandler<IWebserverMkCol>;
using WebserverDeleteHandler = WebserverWebdavHandler<IWebserverDelete>;
using WebserverLockHandler = WebserverWebdavHandler<IWebserverLock>;
using WebserverUnlockHandler = WebserverWebdavHandler<IWebserverUnlock>;
using WebserverProppatchHandler = WebserverWebdavHandler<IWebserverProppatch>;
