#pragma once

#include "web/webserver_types.h"

class IIoMux;
class IInstanceLog;
class ISocketProvider;
class IWebserverPlugin;
class UWebserverGet;
class UWebserverPost;
class UWebserverPut;
class UWebserverPassthrough;
class UWebserverPropfind;
class UWebserverMove;
class UWebserverMkCol;
class UWebserverCopy;
class UWebserverDelete;
class UWebserverLock;
class UWebserverUnlock;
class UWebserverProppatch;
class UWebserverOptions;
class UWebsocket;

// What the link tells the owner of a path (the app instance). Every callback
// comes from a socket completion or a later loop pass, never from inside a
// call of the owner.
class UWebserverPlugin {
public:
    virtual ~UWebserverPlugin() {}
    // The link has ended for good (Close, or a refused registration). Every
    // owner hears it once; the one called with lastUser may delete the link
    // inside the call, and nothing touches it afterwards.
    virtual void WebserverPluginClose(IWebserverPlugin* plugin, wsp_close_reason_t reason, bool lastUser);
    // A request for a registered path is offered. Before returning, the
    // owner calls exactly one of Accept, Cancel or Redirect on the plugin;
    // resourceName stays valid until then. The default refuses.
    virtual void WebserverPluginHttpListenResult(IWebserverPlugin* plugin, ws_request_type_t type, char* resourceName,
                                                 const char* registeredPathForRequest, unsigned long long dataSize);
    virtual void WebserverPluginPassthroughListenResult(IWebserverPlugin* plugin, char* resourceName,
                                                        const char* registeredPathForRequest,
                                                        unsigned long long dataSize);
    // A websocket is offered: WebsocketAccept (null rejects) before returning.
    virtual void WebserverPluginWebsocketListenResult(IWebserverPlugin* plugin, const char* path,
                                                      const char* registeredPathForRequest, const char* host);
    // The link has (re)connected and sent its registrations.
    virtual void WebserverPluginConnected() {}
    // The certificate given to SendCertificate has been handed on.
    virtual void WebserverPluginSendCertificateResult(IWebserverPlugin*, unsigned char*) {}
    virtual void WebserverPluginRegisterPathResult(IWebserverPlugin*, const char*, wsp_path_type_t) {}
    // Answer with RequestUserPasswordResult(id, ...), now or later.
    virtual void WebserverPluginRequestUserPassword(IWebserverPlugin*, unsigned, char*, const char*, const char*,
                                                    const char*)
    {
    }
    virtual void SetAuthConfigResult(const char*, ws_update_auth_result_t) {}
};

// The instance's link to the platform webserver. Owner calls come on the
// loop thread; none of them calls back into the owner before returning.
class IWebserverPlugin {
public:
    virtual ~IWebserverPlugin() {}
    virtual void SendCertificate(const char* host, unsigned char* certificate, unsigned length, const char* password,
                                 UWebserverPlugin* owner) = 0;
    // Paths are relative to the web root; null or empty registers the root.
    // A null owner means the link's default owner.
    virtual void HttpListen(const char* path, UWebserverPlugin* owner, const char* authUser, const char* authPassword,
                            const char* staticFilePrefix) = 0;
    virtual void HttpListen(const char* path, UWebserverPlugin* owner, bool dynamicAuthentication,
                            const char* staticFilePrefix) = 0;
    virtual void PassthroughListen(const char* path, UWebserverPlugin* owner) = 0;
    virtual void WebsocketListen(const char* path, UWebserverPlugin* owner) = 0;
    virtual void SetAuthConfig(const char* path, const char* user, const char* password) = 0;
    virtual void SetAuthConfig(const char* path, bool dynamicAuthentication) = 0;
    // The next operations decide the request offered in a listen callback.
    virtual void Cancel(wsr_cancel_type_t reason) = 0;
    virtual void Redirect(const char* newDestination) = 0;
    virtual bool BuildRedirect(const char* resource, const char* build, unsigned buildLength) = 0;
    // Accepting with null refuses (WSP_CANCEL_NOT_FOUND).
    virtual void Accept(UWebserverGet* user) = 0;
    virtual void Accept(UWebserverPost* user) = 0;
    virtual void Accept(UWebserverPut* user) = 0;
    virtual void Accept(UWebserverPassthrough* user) = 0;
    virtual void Accept(UWebserverPropfind* user) = 0;
    virtual void Accept(UWebserverMove* user) = 0;
    virtual void Accept(UWebserverMkCol* user) = 0;
    virtual void Accept(UWebserverCopy* user) = 0;
    virtual void Accept(UWebserverDelete* user) = 0;
    virtual void Accept(UWebserverLock* user) = 0;
    virtual void Accept(UWebserverUnlock* user) = 0;
    virtual void Accept(UWebserverProppatch* user) = 0;
    virtual void Accept(UWebserverOptions* user) = 0;
    virtual void WebsocketAccept(UWebsocket* user) = 0;
    virtual void RequestUserPasswordResult(unsigned id, const char* user, const char* password) = 0;
    // Orderly end of the whole link; the owners hear WebserverPluginClose later.
    virtual void Close() = 0;
};

class IWebserverPluginProvider {
public:
    virtual ~IWebserverPluginProvider() {}
    // The new link starts connecting at once.
    virtual IWebserverPlugin* CreateWebserverPlugin(IIoMux* iomux, ISocketProvider* localSocketProvider,
                                                    UWebserverPlugin* owner, const char* localSocketPath,
                                                    const char* appWebRoot, IInstanceLog* log) = 0;
};

// Also enters the built-in static files into their table.
IWebserverPluginProvider* CreateWebserverPluginProvider();
