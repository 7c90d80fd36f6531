#pragma once

#include <stddef.h>

#include "web/webserver_types.h"

class IWebserverGet;

// The owner of an accepted GET. Callbacks come from the link's receive path;
// inside any of them the owner may call every IWebserverGet operation.
class UWebserverGet {
public:
    virtual ~UWebserverGet() {}
    virtual void WebserverGetRequestAcceptComplete(IWebserverGet* get) = 0;
    // One Send has been taken; send the next part from here.
    virtual void WebserverGetSendResult(IWebserverGet*) {}
    // The request is over; delete the IWebserverGet here (and this object if it likes).
    virtual void WebserverGetCloseComplete(IWebserverGet* get) = 0;
};

// One GET request. Meta data (transfer info, range, header fields) collects
// until the first Send or the Close, which sends it ahead of any body.
class IWebserverGet {
public:
    virtual ~IWebserverGet() {}
    virtual const char* GetResourceName() = 0;
    virtual const char* GetRegisteredPathForRequest() = 0;
    virtual const char* GetETag() = 0;
    virtual unsigned GetRangeCount() = 0;
    virtual HTTPRange GetRange(unsigned index) = 0;
    virtual void SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags = 0,
                                 const char* etag = nullptr) = 0;
    virtual void SetTransferRange(unsigned long long start, unsigned long long end) = 0;
    virtual void ForceDownloadResponse(const char* fileName) = 0;
    virtual void SetHeaderField(const char* name, const char* value) = 0;
    virtual const char* GetHeaderFieldValue(const char* name) = 0;
    // At most 65535 bytes; each Send yields one WebserverGetSendResult.
    virtual void Send(const void* data, size_t len) = 0;
    virtual void Cancel(wsr_cancel_type_t reason) = 0;
    virtual void Close() = 0;
};
