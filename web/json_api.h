#pragma once

#include <stddef.h>

#include "runtime/istd_list.h"

class json_io;
class JsonApi;

// What an API object sees of the app websocket connection it serves.
class IJsonApiConnection {
public:
    virtual ~IJsonApiConnection() {}
    // Messages whose "api" equals the API's Name() go to it from now on.
    virtual void RegisterJsonApi(JsonApi* api) = 0;
    virtual void UnRegisterJsonApi(JsonApi* api) = 0;
    // Sends; the send results are the connection's business, not the API's.
    virtual void JsonApiMessage(json_io& msg, char* buffer) = 0;
    virtual void JsonApiMessageText(const char* text) = 0;
    // The API is done with the message it was given; the next one is read.
    virtual void JsonApiMessageComplete() = 0;
    virtual bool JsonApiPermission(const char* api) = 0;
    // The login identity; null before a login or after a new challenge.
    virtual const char* JsonApiUserDomain() = 0;
    virtual const char* JsonApiUserSip() = 0;
    virtual const char* JsonApiUserDn() = 0;
    virtual const char* JsonApiUserGuid() = 0;
    virtual const char* JsonApiApp() = 0;
    // The login's "info" object as compact JSON.
    virtual const char* JsonApiInfo() = 0;
    // Per-user secrets derived from the session key (see AppWebsocket).
    virtual void AppWebsocketEncrypt(const char* seed, const char* data, char* out, size_t outLen) = 0;
    virtual void AppWebsocketDecrypt(const char* seed, const char* data, char* out, size_t outLen) = 0;
    virtual void AppWebsocketHash(const char* seed, const char* data, char* out, size_t outLen) = 0;
};

// An API served on an app websocket connection, addressed by "api". It is
// registered with at most one connection at a time; deleting it unregisters it.
class JsonApi : public istd::listElement {
public:
    virtual const char* Name() = 0;
    // Called once after a context created it for a connection, before its first message.
    virtual void JsonApiStart() {}
    // msg and the strings in it live only for this call. The API calls
    // JsonApiMessageComplete (now or later) to let the next message in.
    virtual void Message(json_io& msg, unsigned short base, const char* mt, const char* src) = 0;
    // The connection is gone and has dropped the API; it may delete itself
    // here. Sends from here on are dropped.
    virtual void JsonApiConnectionClosed() = 0;
};

// One API that a context can create on demand for a connection.
class JsonApiProvider {
public:
    virtual ~JsonApiProvider() {}
    virtual const char* JsonApiName() = 0;
    // The new API belongs to the connection's lifecycle (JsonApiConnectionClosed);
    // null declines.
    virtual JsonApi* CreateJsonApi(IJsonApiConnection* connection) = 0;

private:
    friend class JsonApiContext;
    JsonApiProvider* next = nullptr;
};

// The APIs that connections get on first use. Providers are not owned and
// must outlive the context.
class JsonApiContext {
public:
    virtual ~JsonApiContext() {}
    // Searched in the order added.
    void AddJsonApiProvider(JsonApiProvider* provider);
    // Null when no provider has this name or the provider declines.
    JsonApi* CreateJsonApi(const char* name, IJsonApiConnection* connection);

private:
    JsonApiProvider* providers = nullptr;
};
