// Arbitrary client messages and fragments into an AppWebsocket, with the
// subclass, the APIs and the webserver acting at arbitrary points.
//
// Byte 0 sets the session up: bit 0 a system client, bit 1 no password (logins
// wait for an explicit completion), bit 2 the subclass holds each message
// until an explicit completion. Then operations of one byte, kind = low 3
// bits, flags = the rest:
//   0 a part from the client: flag 1 text, flag 2 more parts follow; a 2-byte
//     length (little endian) and that many bytes
//   1 the webserver confirms one send        2 the subclass completes the message
//   3 a correct login for the last challenge (flag 1: with "info")
//   4 the asynchronous password arrives (flag 1: the right one)
//   5 the subclass sends (flag 1: binary)    6 the subclass closes
//   7 the webserver ends the websocket
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "json/json_io.h"
#include "runtime/instance_log.h"
#include "fuzz/fake_websocket.h"
#include "web/app_websocket.h"

namespace {

class HeldApi : public JsonApi {
public:
    explicit HeldApi(IJsonApiConnection* c) : c(c) {}
    const char* Name() override { return "Fz"; }
    void Message(json_io&, unsigned short, const char* mt, const char*) override
    {
        c->JsonApiMessageText("{\"mt\":\"FzResult\"}");
        char hash[65];
        c->AppWebsocketHash("fz", mt, hash, sizeof(hash));
        c->JsonApiMessageComplete();
    }
    void JsonApiConnectionClosed() override { delete this; }
    IJsonApiConnection* c;
};

class Provider : public JsonApiProvider {
public:
    const char* JsonApiName() override { return "Fz"; }
    JsonApi* CreateJsonApi(IJsonApiConnection* c) override { return new HeldApi(c); }
};

class Session : public AppWebsocket {
public:
    Session(IInstanceLog* log, JsonApiContext* context, bool async, bool holds)
        : AppWebsocket(nullptr, log, context), async(async), holds(holds)
    {
    }
    const char* AppWebsocketPassword() override { return async ? nullptr : "pw"; }
    const char* AppWebsocketPassword(const char* domain) override { return strcmp(domain, "o") ? nullptr : "opw"; }
    const char* AppWebsocketInstanceDomain() override { return "d"; }
    void AppWebsocketMessage(json_io&, unsigned short, const char*, const char* src) override
    {
        if (src) {
            // Client text through the session-key helpers.
            size_t n = strlen(src);
            std::string out(2 * n + 1, '\0');
            AppWebsocketEncrypt("s", src, &out[0], out.size());
            AppWebsocketDecrypt("s", src, &out[0], out.size());
        }
        AppWebsocketMessageSendText("{\"mt\":\"Reply\"}");
        if (!holds) AppWebsocketMessageComplete();
    }
    void AppWebsocketClosed() override { closed = true; }
    void AppWebsocketSendResult() override {}
    bool async, holds;
    bool closed = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    IInstanceLog log(LOG_APP_WEBSOCKET);
    Provider provider;
    JsonApiContext context;
    context.AddJsonApiProvider(&provider);
    unsigned setup = data[0];
    Session* session = new Session(&log, &context, setup & 2, setup & 4);
    FakeWebsocket* ws = new FakeWebsocket(session, setup & 1);
    session->WebsocketAcceptComplete(ws);

    size_t at = 1;
    while (at < size && !session->closed) {
        unsigned op = data[at++];
        unsigned flags = op >> 3;
        switch (op & 7) {
        case 0: {
            size_t len = 0;
            if (at + 2 <= size) {
                len = data[at] | data[at + 1] << 8;
                at += 2;
            }
            if (len > size - at) len = size - at;
            ws->Deliver((const char*)data + at, len, flags & 1, flags & 2);
            at += len;
            break;
        }
        case 1:
            ws->Confirm();
            break;
        case 2:
            session->AppWebsocketMessageComplete();
            break;
        case 3: {
            const char* info = (flags & 1) ? "{\"k\":[1,\"\\u0001\"]}" : nullptr;
            std::string password = (setup & 1) ? "" : "pw";
            std::string digest = Hex("a:d:u:g:n:" + (info ? std::string(info) + ":" : "") + ws->challenge + ":" + password);
            std::string login = "{\"mt\":\"AppLogin\",\"app\":\"a\",\"domain\":\"d\",\"sip\":\"u\",\"guid\":\"g\",\"dn\":\"n\","
                                "\"digest\":\"" + digest + "\"" + (info ? std::string(",\"info\":") + info : "") + "}";
            ws->Deliver(login.data(), login.size(), true, false);
            break;
        }
        case 4: {
            char key[APP_WEBSOCKET_KEY_SIZE];
            session->AppWebsocketLoginComplete((flags & 1) ? "pw" : "x", key, sizeof(key));
            break;
        }
        case 5:
            if (flags & 1) session->AppWebsocketMessageSendBinary((char*)"\x01", 1);
            else session->AppWebsocketMessageSendText("{\"mt\":\"Own\"}");
            break;
        case 6:
            session->AppWebsocketClose();
            break;
        case 7:
            ws->End();
            break;
        }
    }
    if (!session->closed) ws->End();
    delete session;
    return 0;
}
