#pragma once

#include <stddef.h>

#include "web/webserver_types.h"

class IWebsocket;

// The owner of an accepted websocket. Callbacks come from the link's receive
// path; inside any of them the owner may call every IWebsocket operation.
class UWebsocket {
public:
    virtual ~UWebsocket() {}
    virtual void WebsocketAcceptComplete(IWebsocket* websocket) = 0;
    virtual void WebsocketSendResult(IWebsocket*) {}
    // isFragment: more data of the same message follows.
    virtual void WebsocketRecvResult(IWebsocket* websocket, void* buffer, size_t len, bool isText,
                                     bool isFragment) = 0;
    // Recv was given no buffer: supply one of at least len bytes.
    virtual void* WebsocketRecvBuffer(size_t) { return nullptr; }
    virtual void WebsocketRecvCanceled(IWebsocket*, void*) {}
    // The websocket is gone; delete the IWebsocket here.
    virtual void WebsocketCloseComplete(IWebsocket* websocket, ws_close_reason_t reason) = 0;
};

class IWebsocket {
public:
    virtual ~IWebsocket() {}
    virtual const char* GetHost() = 0;
    virtual const char* GetPath() = 0;
    virtual const char* GetHeaderFieldValue(const char* name) = 0;
    virtual bool IsSysClientAuthenticated() = 0;
    virtual bool IsLocalHost() = 0;
    virtual bool IsEncryptedConnection() = 0;
    // One message of at most 65535 bytes; each yields one WebsocketSendResult.
    virtual void Send(const void* data, size_t len, bool isText = true) = 0;
    // One receive at a time, at most 65535 bytes; a null buffer with size 0
    // takes up to 65535 bytes into a buffer from WebsocketRecvBuffer.
    virtual void Recv(void* buffer, size_t size) = 0;
    virtual void Close() = 0;
};
