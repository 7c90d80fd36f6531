#pragma once

#include <stddef.h>

#include "web/webserver_types.h"

class IWebserverWebdav;

// PUT and the WebDAV methods share one shape: the body comes through Recv,
// the answer is an opaque result code and optional bytes. The service does
// not use them; they are here so that the link can take every request type.
class UWebserverWebdav {
public:
    virtual ~UWebserverWebdav() {}
    virtual void WebserverWebdavRequestAcceptComplete(IWebserverWebdav* request) = 0;
    virtual void WebserverWebdavSendResult(IWebserverWebdav*) {}
    virtual void WebserverWebdavRecvResult(IWebserverWebdav* request, void* buffer, size_t len) = 0;
    virtual void* WebserverWebdavRecvBuffer(size_t) { return nullptr; }
    virtual void WebserverWebdavRecvCanceled(IWebserverWebdav*, void*) {}
    virtual void WebserverWebdavCloseComplete(IWebserverWebdav* request) = 0;
};

class IWebserverWebdav {
public:
    virtual ~IWebserverWebdav() {}
    virtual const char* GetResourceName() = 0;
    virtual const char* GetRegisteredPathForRequest() = 0;
    virtual const char* GetHeaderFieldValue(const char* name) = 0;
    virtual unsigned long long GetDataSize() = 0;
    virtual bool DataIsChunkEncoded() = 0;
    virtual void SetResultCode(webdav_result_t code) = 0;
    virtual void SetHeaderField(const char* name, const char* value) = 0;
    virtual void Send(const void* data, size_t len) = 0;
    virtual void Recv(void* buffer, size_t size) = 0;
    virtual void Cancel(wsr_cancel_type_t reason) = 0;
    virtual void Close() = 0;
};

// One pair per method, so that IWebserverPlugin::Accept can tell them apart.
class IWebserverPut : public IWebserverWebdav {};
class UWebserverPut : public UWebserverWebdav {};
class IWebserverPropfind : public IWebserverWebdav {};
class UWebserverPropfind : public UWebserverWebdav {};
class IWebserverMove : public IWebserverWebdav {};
class UWebserverMove : public UWebserverWebdav {};
class IWebserverCopy : public IWebserverWebdav {};
class UWebserverCopy : public UWebserverWebdav {};
class IWebserverMkCol : public IWebserverWebdav {};
class UWebserverMkCol : public UWebserverWebdav {};
class IWebserverDelete : public IWebserverWebdav {};
class UWebserverDelete : public UWebserverWebdav {};
class IWebserverLock : public IWebserverWebdav {};
class UWebserverLock : public UWebserverWebdav {};
class IWebserverUnlock : public IWebserverWebdav {};
class UWebserverUnlock : public UWebserverWebdav {};
class IWebserverProppatch : public IWebserverWebdav {};
class UWebserverProppatch : public UWebserverWebdav {};
