#pragma once

#include "web/webserver_get.h"
#include "web/webserver_message_handler.h"

// A GET request: no body to receive; the request's ETag and ranges are readable.
class WebserverGetHandler : public WebserverMessageHandler, public IWebserverGet {
public:
    WebserverGetHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info, bool wide);
    void SetUser(UWebserverGet* u) { user = u; }
    UWebserverGet* User() const { return user; }

    const char* GetResourceName() override { return info.resourceName.c_str(); }
    const char* GetRegisteredPathForRequest() override { return info.registeredPath.c_str(); }
    const char* GetETag() override { return info.etag.empty() ? nullptr : info.etag.c_str(); }
    unsigned GetRangeCount() override { return (unsigned)info.ranges.size(); }
    HTTPRange GetRange(unsigned index) override;
    void SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags, const char* etag) override;
    void SetTransferRange(unsigned long long start, unsigned long long end) override;
    void ForceDownloadResponse(const char* fileName) override;
    void SetHeaderField(const char* name, const char* value) override;
    const char* GetHeaderFieldValue(const char* name) override;
    void Send(const void* data, size_t len) override;
    void Cancel(wsr_cancel_type_t reason) override;
    void Close() override;
    void AcceptComplete() override;

protected:
    void SendResult() override;
    void* RecvBuffer(size_t) override { return nullptr; }
    void RecvResult(void*, size_t) override {}
    void RecvCanceled(void*) override {}
    void CloseComplete() override;

private:
    UWebserverGet* user = nullptr;
    bool rangeSet = false;
};
