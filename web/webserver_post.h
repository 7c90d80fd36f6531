#pragma once

#include <stddef.h>

#include "web/webserver_types.h"

class IWebserverPost;

// The owner of an accepted POST; same rules as UWebserverGet.
class UWebserverPost {
public:
    virtual ~UWebserverPost() {}
    virtual void WebserverPostRequestAcceptComplete(IWebserverPost* post) = 0;
    virtual void WebserverPostSendResult(IWebserverPost*) {}
    // The buffer given to Recv (or got from WebserverPostRecvBuffer) now
    // holds len bytes; len 0 means the body has ended.
    virtual void WebserverPostRecvResult(IWebserverPost* post, void* buffer, size_t len) = 0;
    // Recv was given no buffer: supply one of at least len bytes.
    virtual void* WebserverPostRecvBuffer(size_t) { return nullptr; }
    // A receive ended without data (the request closed); the buffer is the owner's again.
    virtual void WebserverPostRecvCanceled(IWebserverPost*, void*) {}
    virtual void WebserverPostCloseComplete(IWebserverPost* post) = 0;
};

class IWebserverPost {
public:
    virtual ~IWebserverPost() {}
    virtual const char* GetResourceName() = 0;
    virtual const char* GetRegisteredPathForRequest() = 0;
    virtual const char* GetHeaderFieldValue(const char* name) = 0;
    // WS_SIZE_CHUNKED when the body is chunked.
    virtual unsigned long long GetDataSize() = 0;
    virtual bool DataIsChunkEncoded() = 0;
    // Required before the first Send.
    virtual void SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags = 0,
                                 const char* etag = nullptr) = 0;
    virtual void ForceDownloadResponse(const char* fileName) = 0;
    virtual void SetHeaderField(const char* name, const char* value) = 0;
    virtual void Cancel(wsr_cancel_type_t reason) = 0;
    virtual void Send(const void* data, size_t len) = 0;
    // One receive at a time; a null buffer asks WebserverPostRecvBuffer when data comes.
    virtual void Recv(void* buffer, size_t size) = 0;
    virtual void Close() = 0;
};
