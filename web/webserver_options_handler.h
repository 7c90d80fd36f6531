#pragma once

#include "web/webserver_message_handler.h"
#include "web/webserver_options.h"

class WebserverOptionsHandler : public WebserverMessageHandler, public IWebserverOptions {
public:
    WebserverOptionsHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info, bool wide);
    void SetUser(UWebserverOptions* u) { user = u; }

    const char* GetResourceName() override { return info.resourceName.c_str(); }
    const char* GetRegisteredPathForRequest() override { return info.registeredPath.c_str(); }
    const char* GetHeaderFieldValue(const char* n) override { return WebserverMessageHandler::GetHeaderFieldValue(n); }
    void SetSupportedRequests(unsigned requests) override;
    void SetHeaderField(const char* n, const char* v) override { WebserverMessageHandler::SetHeaderField(n, v); }
    void Cancel(wsr_cancel_type_t reason) override { WebserverMessageHandler::Cancel(reason); }
    void Close() override { WebserverMessageHandler::Close(); }
    void AcceptComplete() override;

protected:
    void SendResult() override {}
    void* RecvBuffer(size_t) override { return nullptr; }
    void RecvResult(void*, size_t) override {}
    void RecvCanceled(void*) override {}
    void CloseComplete() override;

private:
    UWebserverOptions* user = nullptr;
};
