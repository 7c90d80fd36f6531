#pragma once

#include "web/webserver_types.h"

class IWebserverOptions;

class UWebserverOptions {
public:
    virtual ~UWebserverOptions() {}
    virtual void WebserverOptionsRequestAcceptComplete(IWebserverOptions* options) = 0;
    // Delete the IWebserverOptions here.
    virtual void WebserverOptionsCloseComplete(IWebserverOptions* options) = 0;
};

// An OPTIONS request: answered by the supported methods and header fields, then Close.
class IWebserverOptions {
public:
    virtual ~IWebserverOptions() {}
    virtual const char* GetResourceName() = 0;
    virtual const char* GetRegisteredPathForRequest() = 0;
    virtual const char* GetHeaderFieldValue(const char* name) = 0;
    // A mask of ws_request_type_t bits.
    virtual void SetSupportedRequests(unsigned requests) = 0;
    virtual void SetHeaderField(const char* name, const char* value) = 0;
    virtual void Cancel(wsr_cancel_type_t reason) = 0;
    virtual void Close() = 0;
};
