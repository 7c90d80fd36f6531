// Arbitrary byte streams from the webserver: frames, extended headers,
// requests and their bodies, websocket sub-messages, static file answers.
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "fuzz/feed_socket.h"
#include "net/socket.h"
#include "runtime/debug.h"
#include "runtime/iomux.h"
#include "web/webserver_get.h"
#include "web/webserver_options.h"
#include "web/webserver_passthrough.h"
#include "web/webserver_plugin.h"
#include "web/webserver_post.h"
#include "web/webserver_webdav.h"
#include "web/websocket.h"

namespace {

char spare[65536];

class FuzzGet : public UWebserverGet {
public:
    void WebserverGetRequestAcceptComplete(IWebserverGet* g) override
    {
        for (unsigned i = 0; i < g->GetRangeCount(); i++) g->GetRange(i);
        g->SetTransferInfo(WSP_RESPONSE_TEXT, 3, 0, g->GetETag());
        g->SetTransferRange(0, 2);
        g->Send("abc", 3);
    }
    void WebserverGetSendResult(IWebserverGet* g) override { g->Close(); }
    void WebserverGetCloseComplete(IWebserverGet* g) override
    {
        delete g;
        delete this;
    }
};

class FuzzPost : public UWebserverPost {
public:
    void WebserverPostRequestAcceptComplete(IWebserverPost* p) override { p->Recv(buffer, sizeof(buffer)); }
    void WebserverPostRecvResult(IWebserverPost* p, void*, size_t len) override
    {
        if (len == 0) {
            p->SetTransferInfo(WSP_RESPONSE_TEXT, 2, 0, nullptr);
            p->Send("ok", 2);
            p->Close();
            return;
        }
        if (++blocks % 2) p->Recv(nullptr, 0);
        else p->Recv(buffer, sizeof(buffer));
    }
    void* WebserverPostRecvBuffer(size_t) override { return spare; }
    void WebserverPostCloseComplete(IWebserverPost* p) override
    {
        delete p;
        delete this;
    }
    char buffer[6];
    unsigned blocks = 0;
};

template <class U>
class FuzzDav : public U {
public:
    void WebserverWebdavRequestAcceptComplete(IWebserverWebdav* r) override { r->Recv(nullptr, 0); }
    void WebserverWebdavRecvResult(IWebserverWebdav* r, void*, size_t len) override
    {
        if (len) {
            r->Recv(nullptr, 0);
            return;
        }
        r->SetResultCode(WEBDAV_RESULT_CREATED);
        r->Close();
    }
    void* WebserverWebdavRecvBuffer(size_t) override { return spare; }
    void WebserverWebdavCloseComplete(IWebserverWebdav* r) override
    {
        delete r;
        delete this;
    }
};

using FuzzPut = FuzzDav<UWebserverPut>;
using FuzzPropfind = FuzzDav<UWebserverPropfind>;

class FuzzPassthrough : public UWebserverPassthrough {
public:
    void WebserverPassthroughRequestAcceptComplete(IWebserverPassthrough* r) override { r->Recv(spare, 100); }
    void WebserverPassthroughRecvResult(IWebserverPassthrough* r, void*, size_t) override
    {
        r->Send("HTTP/1.1 204 No Content\r\n\r\n", 27);
        r->Close();
    }
    void WebserverPassthroughCloseComplete(IWebserverPassthrough* r) override
    {
        delete r;
        delete this;
    }
};

class FuzzOptions : public UWebserverOptions {
public:
    void WebserverOptionsRequestAcceptComplete(IWebserverOptions* o) override
    {
        o->SetSupportedRequests(0x1FF7);
        o->Close();
    }
    void WebserverOptionsCloseComplete(IWebserverOptions* o) override
    {
        delete o;
        delete this;
    }
};

class FuzzSocket : public UWebsocket {
public:
    void WebsocketAcceptComplete(IWebsocket* w) override { w->Recv(nullptr, 0); }
    void WebsocketSendResult(IWebsocket* w) override
    {
        if (++results == 3) w->Close();
    }
    void WebsocketRecvResult(IWebsocket* w, void* buf, size_t len, bool isText, bool) override
    {
        w->Send(buf, len, isText);
        w->Recv(buffer, sizeof(buffer));
    }
    void* WebsocketRecvBuffer(size_t) override { return spare; }
    void WebsocketCloseComplete(IWebsocket* w, ws_close_reason_t) override
    {
        delete w;
        delete this;
    }
    char buffer[10];
    unsigned results = 0;
};

// Decides by the resource's second character, so that inputs can pick a path.
class FuzzOwner : public UWebserverPlugin {
public:
    void WebserverPluginHttpListenResult(IWebserverPlugin* p, ws_request_type_t type, char* resource, const char*,
                                         unsigned long long) override
    {
        char c = resource[0] ? resource[1] : 0;
        if (c == 'c') return p->Cancel(WSP_CANCEL_NOT_FOUND);
        if (c == 'r') {
            if (!p->BuildRedirect(resource, "42", 2)) p->Cancel(WSP_CANCEL_NOT_FOUND);
            return;
        }
        bool refuse = c == 'n';
        switch (type) {
        case WS_REQUEST_GET: return p->Accept(refuse ? nullptr : new FuzzGet);
        case WS_REQUEST_POST: return p->Accept(refuse ? nullptr : new FuzzPost);
        case WS_REQUEST_PUT: return p->Accept(refuse ? nullptr : new FuzzPut);
        case WS_REQUEST_PROPFIND: return p->Accept(refuse ? nullptr : new FuzzPropfind);
        case WS_REQUEST_OPTIONS: return p->Accept(refuse ? nullptr : new FuzzOptions);
        default: return p->Cancel(WSP_CANCEL_NOT_FOUND);
        }
    }
    void WebserverPluginPassthroughListenResult(IWebserverPlugin* p, char*, const char*, unsigned long long) override
    {
        p->Accept(new FuzzPassthrough);
    }
    void WebserverPluginWebsocketListenResult(IWebserverPlugin* p, const char* path, const char*,
                                              const char*) override
    {
        p->WebsocketAccept(path[0] && path[1] == 'n' ? nullptr : new FuzzSocket);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    size_t piece = 1 + data[0] % 64;
    debug->SetLogging(false);
    IIoMux* iomux = IIoMux::Create(true, 0);
    FeedProvider provider;
    FuzzOwner owner;
    IWebserverPluginProvider* plugins = CreateWebserverPluginProvider();
    IWebserverPlugin* link = plugins->CreateWebserverPlugin(iomux, &provider, &owner, "/fuzz/webserver", "/app", nullptr);
    link->HttpListen(nullptr, nullptr, nullptr, nullptr, "42");
    link->HttpListen("sub", nullptr, nullptr, nullptr, nullptr);
    link->PassthroughListen("raw", nullptr);
    link->WebsocketListen("ws", nullptr);
    FeedSocket* socket = provider.last;
    USocket* user = socket->user;
    user->SocketConnectComplete(socket);
    socket->Feed(data + 1, size - 1, piece);
    // The connection ends: every live request is closed and its owner frees it.
    user->SocketShutdown(socket, SOCKET_SHUTDOWN_PEER_CLOSED);
    delete link;
    delete plugins;
    delete iomux;
    return 0;
}
