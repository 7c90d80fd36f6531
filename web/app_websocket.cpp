#include "web/app_websocket.h"

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "json/json_io.h"
#include "runtime/assert.h"
#include "runtime/instance_log.h"
#include "web/webserver_plugin.h"

AppWebsocket::AppWebsocket(IWebserverPlugin* plugin, IInstanceLog* log, JsonApiContext* jsonApiContext)
    : log(log), jsonApiContext(jsonApiContext), offered(plugin != nullptr), id((unsigned)(uintptr_t)this)
{
    if (plugin) plugin->WebsocketAccept(this);
}

AppWebsocket::~AppWebsocket()
{
    ASSERT(state == CLOSED || (!offered && !websocket), "AppWebsocket deleted before its websocket closed");
    free(partial);
    free(pendingDigest);
    ClearIdentity();
    free(info);
    memset(sessionKey, 0, sizeof(sessionKey));
}

void AppWebsocket::SetState(State next)
{
    switch (state) {
    case ACCEPTING:
        if (next == OPEN || next == CLOSING || next == CLOSED) break;
        FATAL("AppWebsocket: impossible state change from ACCEPTING");
    case OPEN:
        if (next == CLOSING || next == CLOSED) break;
        FATAL("AppWebsocket: impossible state change from OPEN");
    case CLOSING:
        if (next == CLOSED) break;
        FATAL("AppWebsocket: impossible state change from CLOSING");
    default:
        FATAL("AppWebsocket: state change after CLOSED");
    }
    state = next;
}

void AppWebsocket::Log(const char* fmt, ...)
{
    if (!log || !log->LogFlagSet(LOG_APP_WEBSOCKET)) return;
    char format[256];
    snprintf(format, sizeof(format), "AppWebsocket(%08x)::%s", id, fmt);
    va_list ap;
    va_start(ap, fmt);
    log->LogV(LOG_APP_WEBSOCKET, format, ap);
    va_end(ap);
}

void AppWebsocket::WebsocketAcceptComplete(IWebsocket* ws)
{
    websocket = ws;
    // Closed by the owner while the webserver was still confirming.
    if (state == CLOSING) {
        websocket->Close();
        return;
    }
    SetState(OPEN);
    Receive();
}

void AppWebsocket::Receive()
{
    if (state != OPEN) return;
    ASSERT(reader == READ_IDLE, "AppWebsocket: second receive");
    reader = READ_PENDING;
    websocket->Recv(nullptr, 0);
}

void AppWebsocket::Next()
{
    // A stray completion must not open a second receive.
    if (reader != READ_BUSY) return;
    reader = READ_IDLE;
    Receive();
}

void AppWebsocket::Error()
{
    Log("Error");
    AppWebsocketClose();
}

void* AppWebsocket::WebsocketRecvBuffer(size_t len)
{
    char* buffer = (char*)malloc(len + 1);
    if (buffer) buffer[len] = 0;
    return buffer;
}

void AppWebsocket::WebsocketRecvCanceled(IWebsocket*, void* buffer)
{
    free(buffer);
    if (reader == READ_PENDING) reader = READ_IDLE;
}

void AppWebsocket::WebsocketRecvResult(IWebsocket*, void* buffer, size_t len, bool isText, bool isFragment)
{
    ASSERT(reader == READ_PENDING, "AppWebsocket: receive result without a receive");
    reader = READ_BUSY;
    char* text = (char*)buffer;
    if (state != OPEN) {
        free(text);
        return;
    }
    if (!Collect(text, len, isText, isFragment)) return;
    Dispatch(text, len, isText);
    free(text);
}

// Keeps fragments until the last one; true hands back the whole message.
bool AppWebsocket::Collect(char*& text, size_t& len, bool& isText, bool isFragment)
{
    if (!text) {
        // Our own buffer allocation failed.
        DropPartial();
        Error();
        return false;
    }
    if (!isFragment && !partial) {
        text[len] = 0;
        return true;
    }
    if (partialLen + len > APP_WEBSOCKET_MAX_MESSAGE) {
        free(text);
        DropPartial();
        Error();
        return false;
    }
    if (!partial) partialText = isText;
    if (partialLen + len + 1 > partialSize) {
        // Doubling keeps a stream of tiny fragments from copying the message over and over.
        size_t size = partialSize ? partialSize : 256;
        while (size < partialLen + len + 1) size *= 2;
        char* grown = (char*)realloc(partial, size);
        if (!grown) {
            free(text);
            DropPartial();
            Error();
            return false;
        }
        partial = grown;
        partialSize = size;
    }
    memcpy(partial + partialLen, text, len);
    free(text);
    partialLen += len;
    partial[partialLen] = 0;
    if (isFragment) {
        Next();
        return false;
    }
    text = partial;
    len = partialLen;
    isText = partialText;
    partial = nullptr;
    partialLen = partialSize = 0;
    return true;
}

void AppWebsocket::DropPartial()
{
    free(partial);
    partial = nullptr;
    partialLen = partialSize = 0;
}

void AppWebsocket::Dispatch(char* text, size_t len, bool isText)
{
    if (!isText) {
        AppWebsocketBinaryMessage(text, (int)len);
        Next();
        return;
    }
    json_io msg(text);
    unsigned short base = msg.decode() ? msg.get_object(json_io::NONE, nullptr) : json_io::NONE;
    const char* mt = base != json_io::NONE ? msg.get_string(base, "mt") : nullptr;
    if (!mt) {
        Error();
        return;
    }
    const char* src = msg.get_string(base, "src");

    if (!strcmp(mt, "KeepAlive")) {
        Next();
        return;
    }
    if (!strcmp(mt, "CheckBuild")) {
        CheckBuild(msg, base);
        Next();
        return;
    }
    if (!strcmp(mt, "AppChallenge")) {
        Challenge();
        Next();
        return;
    }
    if (!strcmp(mt, "AppLogin")) {
        Login(msg, base);
        return;
    }
    if (!strcmp(mt, "AppCheckLogin")) {
        CheckLogin(msg, base);
        Next();
        return;
    }
    if (!loggedIn) {
        Error();
        return;
    }
    const char* api = msg.get_string(base, "api");
    if (api) {
        DispatchApi(msg, base, mt, src, api);
        return;
    }
    if (!strcmp(mt, "AppInfo")) {
        AppInfo(msg, base);
        Next();
        return;
    }
    if (!strcmp(mt, "Test")) {
        Test(src);
        Next();
        return;
    }
    AppWebsocketMessage(msg, base, mt, src);
}

void AppWebsocket::DispatchApi(json_io& msg, unsigned short base, const char* mt, const char* src, const char* api)
{
    for (istd::listElement* e = apis.front(); e; e = e->goNext()) {
        JsonApi* registered = static_cast<JsonApi*>(e);
        if (!strcmp(registered->Name(), api)) {
            registered->Message(msg, base, mt, src);
            return;
        }
    }
    JsonApi* created = nullptr;
    if (jsonApiContext && AppWebsocketApiPermission(api)) created = jsonApiContext->CreateJsonApi(api, this);
    if (!created) {
        Next();
        return;
    }
    RegisterJsonApi(created);
    created->JsonApiStart();
    created->Message(msg, base, mt, src);
}

bool AppWebsocket::Send(const void* data, size_t len, bool isText)
{
    if (state != OPEN) return false;
    if (len > WS_MAX_DATA_SIZE) {
        // No websocket message can carry it; the peer would wait for it forever.
        Error();
        return false;
    }
    websocket->Send(data, len, isText);
    return true;
}

// Room that write() may need for a subtree: every name quoted with its
// colon, every string escaped at worst six bytes per byte, a bracket pair or
// comma per item.
size_t AppWebsocket::EncodedBound(const json_io& doc, unsigned short item)
{
    const json_io::item* top = doc.get_item(item);
    if (!top) return 1;
    unsigned last = top->type == json_io::VALUE ? item : item + top->count;
    size_t n = 1;
    for (unsigned i = item; i <= last && i < doc.items_used(); i++) {
        const json_io::item* x = doc.get_item((unsigned short)i);
        n += 4;
        if (x->name) n += strlen(x->name) + 3;
        if (x->type == json_io::VALUE && x->value)
            n += (x->flags & json_io::FLAG_QUOTED) ? 6u * x->count + 2 : x->count;
    }
    return n;
}

bool AppWebsocket::SendDocument(json_io& doc)
{
    if (state != OPEN || !doc.items_used()) return false;
    std::vector<char> buffer(EncodedBound(doc, 0));
    char* out = buffer.data();
    doc.write(0, out);
    return Send(buffer.data(), out - buffer.data(), true);
}

void AppWebsocket::AppWebsocketMessageSend(json_io& msg, char* buffer)
{
    if (state != OPEN || !msg.items_used()) return;
    char* out = buffer;
    msg.write(0, out);
    Send(buffer, out - buffer, true);
}

void AppWebsocket::AppWebsocketMessageSendText(const char* text)
{
    Send(text, strlen(text), true);
}

void AppWebsocket::AppWebsocketMessageSendBinary(char* data, int len)
{
    if (len >= 0) Send(data, len, false);
}

void AppWebsocket::AppWebsocketMessageComplete()
{
    Next();
}

void AppWebsocket::WebsocketSendResult(IWebsocket*)
{
    Log("WebsocketSendResult() connected=%x sendCount=%u", loggedIn, sendCount);
    if (!loggedIn) return;
    if (sendCount) {
        sendCount--;
        return;
    }
    Log("AppWebsocketSendResult");
    AppWebsocketSendResult();
}

void AppWebsocket::AppWebsocketClose()
{
    Log("AppWebsocketClose");
    if (state == OPEN) {
        SetState(CLOSING);
        websocket->Close();
    }
    else if (state == ACCEPTING) {
        SetState(CLOSING);
    }
}

void AppWebsocket::WebsocketCloseComplete(IWebsocket* ws, ws_close_reason_t)
{
    delete ws;
    websocket = nullptr;
    SetState(CLOSED);
    reader = READ_IDLE;
    DropPartial();
    Log("AppWebsocketClosed");
    // Each API is dropped before it hears, so it may delete itself or unregister.
    while (!apis.empty()) {
        JsonApi* api = static_cast<JsonApi*>(apis.front());
        apis.remove(api);
        api->JsonApiConnectionClosed();
    }
    // Last: the subclass deletes us here.
    AppWebsocketClosed();
}

void AppWebsocket::RegisterJsonApi(JsonApi* api)
{
    if (api->getList() != &apis) apis.push_back(api);
}

void AppWebsocket::UnRegisterJsonApi(JsonApi* api)
{
    apis.remove(api);
}

void AppWebsocket::JsonApiMessage(json_io& msg, char* buffer)
{
    if (state != OPEN || !msg.items_used()) return;
    char* out = buffer;
    msg.write(0, out);
    if (Send(buffer, out - buffer, true)) sendCount++;
}

void AppWebsocket::JsonApiMessageText(const char* text)
{
    if (Send(text, strlen(text), true)) sendCount++;
}

void AppWebsocket::JsonApiMessageComplete()
{
    Next();
}

bool AppWebsocket::JsonApiPermission(const char* api)
{
    return AppWebsocketApiPermission(api);
}
