#pragma once

#include "web/webserver_message_handler.h"
#include "web/webserver_post.h"

// A POST request: the body comes through Recv; the answer needs its transfer
// info before the first byte.
class WebserverPostHandler : public WebserverMessageHandler, public IWebserverPost {
public:
    WebserverPostHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info, bool wide);
    void SetUser(UWebserverPost* u) { user = u; }

    const char* GetResourceName() override { return info.resourceName.c_str(); }
    const char* GetRegisteredPathForRequest() override { return info.registeredPath.c_str(); }
    const char* GetHeaderFieldValue(const char* name) override;
    unsigned long long GetDataSize() override { return info.dataSize; }
    bool DataIsChunkEncoded() override { return info.dataSize == WS_SIZE_CHUNKED; }
    void SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags, const char* etag) override;
    void ForceDownloadResponse(const char* fileName) override;
    void SetHeaderField(const char* name, const char* value) override;
    void Cancel(wsr_cancel_type_t reason) override;
    void Send(const void* data, size_t len) override;
    void Recv(void* buffer, size_t size) override;
    void Close() override;
    void AcceptComplete() override;

protected:
    void SendResult() override;
    void* RecvBuffer(size_t len) override;
    void RecvResult(void* buffer, size_t len) override;
    void RecvCanceled(void* buffer) override;
    void CloseComplete() override;

private:
    UWebserverPost* user = nullptr;
    bool transferInfoSet = false;
};
