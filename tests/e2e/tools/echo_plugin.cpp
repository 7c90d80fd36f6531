// web-echo-plugin: a plugin process built from the web library, for the
// end-to-end tests and the websocket benchmark.
//
//   web-echo-plugin --webserver=SOCKET [--path=/echo] [--ws-part=BYTES]
//
// Under its path it answers
//   POST (any resource)      the body streamed back block by block as it comes;
//                            "?block=N" sets the most bytes taken per receive
//   GET  /hello              a short text
//   GET  /hang               accepted, never answered
//   GET  /stall?size=N       N bytes announced, one block of them sent, then nothing
// and echoes every websocket message. A message of up to 65535 bytes goes back
// as one message; a longer one goes back as consecutive messages of at most
// 65535 bytes, which is all one send of the link may carry.
//
// What happened is printed on standard output, one line each, for the tests
// to wait for: "connected", "post blocks=B bytes=N", "hang accepted",
// "stall sent=N", "ws open", "ws message bytes=N parts=P", "ws closed reason=R".
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "net/socket.h"
#include "runtime/instance_log.h"
#include "runtime/iomux.h"
#include "web/webserver_get.h"
#include "web/webserver_plugin.h"
#include "web/webserver_post.h"
#include "web/websocket.h"

namespace {

void Report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Report(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    putchar('\n');
    // The tests read these lines while we run.
    fflush(stdout);
}

unsigned long long QueryNumber(const char* resource, const char* name, unsigned long long fallback)
{
    const char* q = strchr(resource, '?');
    std::string key = std::string(name) + "=";
    for (const char* p = q; p; p = strchr(p + 1, '&')) {
        if (!strncmp(p + 1, key.c_str(), key.size())) return strtoull(p + 1 + key.size(), nullptr, 10);
    }
    return fallback;
}

// "--name=value": the value when `arg` names option `name`, else null.
const char* Option(const char* arg, const char* name)
{
    size_t n = strlen(name);
    if (strncmp(arg, "--", 2) || strncmp(arg + 2, name, n) || arg[2 + n] != '=') return nullptr;
    return arg + 3 + n;
}

bool IsResource(const char* resource, const char* name)
{
    size_t n = strlen(name);
    return !strncmp(resource, name, n) && (resource[n] == 0 || resource[n] == '?');
}

class Hello : public UWebserverGet {
public:
    void WebserverGetRequestAcceptComplete(IWebserverGet* get) override
    {
        static const char text[] = "hello from the echo plugin\n";
        get->SetTransferInfo(WSP_RESPONSE_TEXT, sizeof(text) - 1);
        get->Send(text, sizeof(text) - 1);
    }
    void WebserverGetSendResult(IWebserverGet* get) override { get->Close(); }
    void WebserverGetCloseComplete(IWebserverGet* get) override
    {
        delete get;
        delete this;
    }
};

// Never answers: the client waits until the plugin or the webserver gives up.
class Hang : public UWebserverGet {
public:
    void WebserverGetRequestAcceptComplete(IWebserverGet*) override { Report("hang accepted"); }
    void WebserverGetCloseComplete(IWebserverGet* get) override
    {
        delete get;
        delete this;
    }
};

// Announces a length, sends the first block of it and stops, so that the
// response is cut when the process goes away.
class Stall : public UWebserverGet {
public:
    explicit Stall(unsigned long long size) : size(size) {}
    void WebserverGetRequestAcceptComplete(IWebserverGet* get) override
    {
        first = size < 1000 ? size / 2 : 1000;
        std::string block(first, 's');
        get->SetTransferInfo(WSP_RESPONSE_BINARY, size);
        get->Send(block.data(), block.size());
    }
    void WebserverGetSendResult(IWebserverGet*) override { Report("stall sent=%llu", first); }
    void WebserverGetCloseComplete(IWebserverGet* get) override
    {
        delete get;
        delete this;
    }

private:
    unsigned long long size;
    unsigned long long first = 0;
};

// Each received block is sent back before the next one is asked for, so the
// body streams through with one block in flight.
class PostEcho : public UWebserverPost {
public:
    explicit PostEcho(size_t block) : buffer(block ? block : 1, 0) {}
    void WebserverPostRequestAcceptComplete(IWebserverPost* post) override
    {
        unsigned long long size = post->GetDataSize();
        post->SetTransferInfo(WSP_RESPONSE_BINARY, post->DataIsChunkEncoded() ? WS_SIZE_CHUNKED : size);
        post->Recv(&buffer[0], buffer.size());
    }
    void WebserverPostRecvResult(IWebserverPost* post, void* data, size_t len) override
    {
        if (len == 0) {
            Report("post blocks=%u bytes=%llu", blocks, bytes);
            post->Close();
            return;
        }
        blocks++;
        bytes += len;
        post->Send(data, len);
    }
    void WebserverPostSendResult(IWebserverPost* post) override { post->Recv(&buffer[0], buffer.size()); }
    void WebserverPostCloseComplete(IWebserverPost* post) override
    {
        delete post;
        delete this;
    }

private:
    std::string buffer;
    unsigned blocks = 0;
    unsigned long long bytes = 0;
};

class WebsocketEcho : public UWebsocket {
public:
    explicit WebsocketEcho(size_t part) : buffer(part, 0) {}
    void WebsocketAcceptComplete(IWebsocket* ws) override
    {
        Report("ws open");
        ws->Recv(&buffer[0], buffer.size());
    }
    void WebsocketRecvResult(IWebsocket* ws, void* data, size_t len, bool isText, bool isFragment) override
    {
        message.append((const char*)data, len);
        parts++;
        if (!isFragment) {
            // Messages of one part are the benchmark's: no line for each of them.
            if (parts > 1) Report("ws message bytes=%zu parts=%u", message.size(), parts);
            size_t at = 0;
            do {
                size_t n = message.size() - at < WS_MAX_DATA_SIZE ? message.size() - at : WS_MAX_DATA_SIZE;
                ws->Send(message.data() + at, n, isText);
                at += n;
            } while (at < message.size());
            message.clear();
            parts = 0;
        }
        ws->Recv(&buffer[0], buffer.size());
    }
    void WebsocketCloseComplete(IWebsocket* ws, ws_close_reason_t reason) override
    {
        Report("ws closed reason=%d", (int)reason);
        delete ws;
        delete this;
    }

private:
    std::string buffer;
    std::string message;
    unsigned parts = 0;
};

class EchoPlugin : public UWebserverPlugin, public IShutdownHandler {
public:
    EchoPlugin(IIoMux* iomux, ISocketProvider* local, const char* socketPath, const char* path, size_t wsPart)
        : iomux(iomux), wsPart(wsPart), provider(CreateWebserverPluginProvider())
    {
        plugin = provider->CreateWebserverPlugin(iomux, local, this, socketPath, path, &log);
        plugin->HttpListen(nullptr, this, nullptr, nullptr, nullptr);
        plugin->WebsocketListen(nullptr, this);
        iomux->RegisterShutdownHandler(this);
    }

    ~EchoPlugin() override
    {
        delete plugin;
        delete provider;
    }

    void WebserverPluginConnected() override { Report("connected"); }
    void WebserverPluginHttpListenResult(IWebserverPlugin* link, ws_request_type_t type, char* resource, const char*,
                                         unsigned long long) override
    {
        if (type == WS_REQUEST_POST) {
            unsigned long long block = QueryNumber(resource, "block", 16384);
            link->Accept(new PostEcho(block < WS_MAX_DATA_SIZE ? (size_t)block : WS_MAX_DATA_SIZE));
        }
        else if (type != WS_REQUEST_GET) link->Cancel(WSP_CANCEL_NOT_FOUND);
        else if (IsResource(resource, "/hello")) link->Accept(new Hello());
        else if (IsResource(resource, "/hang")) link->Accept(new Hang());
        else if (IsResource(resource, "/stall")) link->Accept(new Stall(QueryNumber(resource, "size", 100000)));
        else link->Cancel(WSP_CANCEL_NOT_FOUND);
    }
    void WebserverPluginWebsocketListenResult(IWebserverPlugin* link, const char*, const char*, const char*) override
    {
        link->WebsocketAccept(new WebsocketEcho(wsPart));
    }
    void WebserverPluginClose(IWebserverPlugin* closed, wsp_close_reason_t, bool lastUser) override
    {
        if (!lastUser) return;
        delete closed;
        plugin = nullptr;
        if (stopping) iomux->ShutdownComplete(this);
    }
    void Shutdown() override
    {
        if (stopping) return;
        stopping = true;
        if (plugin) plugin->Close();
        else iomux->ShutdownComplete(this);
    }
    void ShutdownTimeout() override {}

private:
    IIoMux* iomux;
    size_t wsPart;
    IWebserverPluginProvider* provider;
    IInstanceLog log;
    IWebserverPlugin* plugin = nullptr;
    bool stopping = false;
};

}  // namespace

int main(int argc, char** argv)
{
    const char* socketPath = nullptr;
    const char* path = "/echo";
    size_t wsPart = 16384;
    for (int i = 1; i < argc; i++) {
        const char* v;
        if ((v = Option(argv[i], "webserver"))) socketPath = v;
        else if ((v = Option(argv[i], "path"))) path = v;
        else if ((v = Option(argv[i], "ws-part"))) wsPart = strtoul(v, nullptr, 10);
        else {
            fprintf(stderr, "web-echo-plugin: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (!socketPath || wsPart == 0 || wsPart > WS_MAX_DATA_SIZE) {
        fprintf(stderr, "usage: web-echo-plugin --webserver=SOCKET [--path=/echo] [--ws-part=1..65535]\n");
        return 2;
    }
    IIoMux* iomux = IIoMux::Create();
    ISocketProvider* local = CreateLocalSocketProvider();
    auto* echo = new EchoPlugin(iomux, local, socketPath, path, wsPart);
    iomux->Run();
    delete echo;
    delete local;
    delete iomux;
    return 0;
}
