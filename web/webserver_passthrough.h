#pragma once

#include <stddef.h>

#include "web/webserver_types.h"

class IWebserverPassthrough;

// A pass-through request: raw request body in, raw response (status line and
// header fields included) out. Same callback rules as UWebserverPost.
class UWebserverPassthrough {
public:
    virtual ~UWebserverPassthrough() {}
    virtual void WebserverPassthroughRequestAcceptComplete(IWebserverPassthrough* request) = 0;
    virtual void WebserverPassthroughSendResult(IWebserverPassthrough*) {}
    virtual void WebserverPassthroughRecvResult(IWebserverPassthrough* request, void* buffer, size_t len) = 0;
    virtual void* WebserverPassthroughRecvBuffer(size_t) { return nullptr; }
    virtual void WebserverPassthroughRecvCanceled(IWebserverPassthrough*, void*) {}
    virtual void WebserverPassthroughCloseComplete(IWebserverPassthrough* request) = 0;
};

class IWebserverPassthrough {
public:
    virtual ~IWebserverPassthrough() {}
    virtual const char* GetResourceName() = 0;
    virtual const char* GetRegisteredPathForRequest() = 0;
    virtual const char* GetHeaderFieldValue(const char* name) = 0;
    virtual unsigned long long GetDataSize() = 0;
    virtual bool DataIsChunkEncoded() = 0;
    virtual void Send(const void* data, size_t len) = 0;
    virtual void Recv(void* buffer, size_t size) = 0;
    virtual void Cancel(wsr_cancel_type_t reason) = 0;
    virtual void Close() = 0;
};
