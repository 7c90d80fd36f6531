#pragma once

#include "web/webserver_message_handler.h"
#include "web/websocket.h"

// Websocket sub-messages, carried in the low 16 bits of the general purpose.
enum ws_websocket_message_t {
    WSW_REJECT = 1,
    WSW_ACCEPT_COMPLETE = 2,
    WSW_SEND = 3,
    WSW_SEND_RESULT = 4,
    WSW_RECV = 5,
    WSW_RECV_RESULT = 6,
    WSW_CLOSE = 7,
    WSW_CLOSED = 8,
};
const unsigned WSW_FLAG_TEXT = 0x8000;
const unsigned WSW_FLAG_FRAGMENT = 0x4000;

// One websocket: all its traffic is WSM_WEBSOCKET_MESSAGE sub-messages, and
// its end is always the webserver's "closed" sub-message (or the link's loss).
class WebserverWebsocketHandler : public WebserverMessageHandler, public IWebsocket {
public:
    static const unsigned HANDLER_TYPE = 9;

    WebserverWebsocketHandler(WebserverPlugin* link, unsigned connectionId, WebserverRequestInfo info, bool wide);
    void SetUser(UWebsocket* u) { user = u; }

    const char* GetHost() override { return info.host.c_str(); }
    const char* GetPath() override { return info.resourceName.c_str(); }
    const char* GetHeaderFieldValue(const char* n) override { return WebserverMessageHandler::GetHeaderFieldValue(n); }
    bool IsSysClientAuthenticated() override { return (info.connectionFlags & WS_CONNECTION_SYS_CLIENT) != 0; }
    bool IsLocalHost() override { return (info.connectionFlags & WS_CONNECTION_LOCAL_HOST) != 0; }
    bool IsEncryptedConnection() override { return (info.connectionFlags & WS_CONNECTION_ENCRYPTED) != 0; }
    void Send(const void* data, size_t len, bool isText) override;
    void Recv(void* buffer, size_t size) override;
    void Close() override;

    void* BodyBuffer(const WsFrame& frame) override;
    void HandleMessage(const WsFrame& frame, void* body) override;
    void WebserverPluginWillClose() override;
    void AcceptComplete() override {}

protected:
    void SendEnd() override;
    void SendResult() override;
    void* RecvBuffer(size_t len) override;
    void RecvResult(void*, size_t) override {}
    void RecvCanceled(void* buffer) override;
    void CloseComplete() override {}

private:
    void HandleRecvResult(const WsFrame& frame, void* body);
    void Closed(ws_close_reason_t reason);

    UWebsocket* user = nullptr;
    bool acceptCompleted = false;
};
