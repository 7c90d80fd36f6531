#pragma once

#include "web/webserver_message_handler.h"
#include "web/webserver_passthrough.h"

class WebserverPassthroughHandler : public WebserverMessageHandler, public IWebserverPassthrough {
public:
    WebserverPassthroughHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info, bool wide);
    void SetUser(UWebserverPassthrough* u) { user = u; }

    const char* GetResourceName() override { return info.resourceName.c_str(); }
    const char* GetRegisteredPathForRequest() override { return info.registeredPath.c_str(); }
    const char* GetHeaderFieldValue(const char* n) override { return WebserverMessageHandler::GetHeaderFieldValue(n); }
    unsigned long long GetDataSize() override { return info.dataSize; }
    bool DataIsChunkEncoded() override { return info.dataSize == WS_SIZE_CHUNKED; }
    void Send(const void* data, size_t len) override { WebserverMessageHandler::Send(data, len); }
    void Recv(void* buffer, size_t size) override { WebserverMessageHandler::Recv(buffer, size); }
    void Cancel(wsr_cancel_type_t reason) override { WebserverMessageHandler::Cancel(reason); }
    void Close() override { WebserverMessageHandler::Close(); }
    void AcceptComplete() override;

protected:
    bool SendsMetaData() const override { return false; }
    void SendResult() override;
    void* RecvBuffer(size_t len) override;
    void RecvResult(void* buffer, size_t len) override;
    void RecvCanceled(void* buffer) override;
    void CloseComplete() override;

private:
    UWebserverPassthrough* user = nullptr;
};
