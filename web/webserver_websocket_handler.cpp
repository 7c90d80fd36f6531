#include "web/webserver_websocket_handler.h"

#include "runtime/assert.h"

WebserverWebsocketHandler::WebserverWebsocketHandler(WebserverPlugin* link, unsigned connectionId,
                                                     WebserverRequestInfo info, bool wide)
    : WebserverMessageHandler(link, "WebserverWebsocketHandler", connectionId, 0, std::move(info), wide)
{
}

void WebserverWebsocketHandler::Send(const void* data, size_t len, bool isText)
{
    ASSERT(len <= WS_MAX_DATA_SIZE, "IWebsocket::Send more than 65535 bytes");
    if (state != ACCEPTED) {
        Log("NOTE: handler is closing, data will not be sent!");
        return;
    }
    SendFrame(WSM_WEBSOCKET_MESSAGE, (isText ? WSW_FLAG_TEXT : 0) << 16 | WSW_SEND, data, len);
    sendsUnconfirmed++;
}

void WebserverWebsocketHandler::Recv(void* buffer, size_t size)
{
    ASSERT(size <= WS_MAX_DATA_SIZE, "IWebsocket::Recv() buffer larger than 65535 bytes");
    ASSERT(!recvPending, "WebserverWebsocketHandler::Recv() called before receiving a RecvResult()");
    recvPending = true;
    recvBuffer = buffer;
    recvSize = buffer ? size : 0;
    unsigned most = size ? (unsigned)size : WS_MAX_DATA_SIZE;
    SendFrame(WSM_WEBSOCKET_MESSAGE, most << 16 | WSW_RECV, nullptr, 0);
}

void WebserverWebsocketHandler::Close()
{
    Log("%s(connection id: %u)::Close()", name, connectionId);
    if (state != ACCEPTED) return;
    SetState(CLOSING);
    if (sendsUnconfirmed == 0) SendEnd();
}

void WebserverWebsocketHandler::SendEnd()
{
    endSent = true;
    ExtendedHeader eh(meta.IsWide());
    eh.SetU32(DDT_WEBSOCKET_CLOSE_REASON, 0);
    std::string body = eh.Encode();
    SendFrame(WSM_WEBSOCKET_MESSAGE, WSW_CLOSE, body.data(), body.size());
}

void WebserverWebsocketHandler::SendResult()
{
    user->WebsocketSendResult(this);
}

void* WebserverWebsocketHandler::RecvBuffer(size_t len)
{
    return user->WebsocketRecvBuffer(len);
}

void WebserverWebsocketHandler::RecvCanceled(void* buffer)
{
    user->WebsocketRecvCanceled(this, buffer);
}

void* WebserverWebsocketHandler::BodyBuffer(const WsFrame& frame)
{
    // The close reason is the link's to read, never the owner's buffer.
    if (frame.type != WSM_WEBSOCKET_MESSAGE || (frame.generalPurpose & 0xFFFF) != WSW_RECV_RESULT || !recvPending)
        return nullptr;
    if (!recvBuffer) {
        recvBuffer = RecvBuffer(frame.dataSize);
        recvSize = recvBuffer ? frame.dataSize : 0;
    }
    return frame.dataSize <= recvSize ? recvBuffer : nullptr;
}

void WebserverWebsocketHandler::HandleMessage(const WsFrame& frame, void* body)
{
    if (frame.type != WSM_WEBSOCKET_MESSAGE) {
        Log("WARNING: IWebsocket received non-websocket related message id (%u) - ignoring", frame.type);
        return;
    }
    unsigned id = frame.generalPurpose & 0xFFFF;
    switch (id) {
    case WSW_ACCEPT_COMPLETE:
        if (acceptCompleted || state != ACCEPTED) break;
        acceptCompleted = true;
        user->WebsocketAcceptComplete(this);
        return;
    case WSW_SEND_RESULT:
        if (sendsUnconfirmed == 0) break;
        sendsUnconfirmed--;
        if (state == ACCEPTED) SendResult();
        else if (state == CLOSING && sendsUnconfirmed == 0 && !endSent) SendEnd();
        return;
    case WSW_RECV_RESULT:
        if (!recvPending) break;
        HandleRecvResult(frame, body);
        return;
    case WSW_CLOSED: {
        unsigned reason = frame.dataSize >= 2 ? ws_get16((const unsigned char*)body) : (unsigned)WSCR_PROTOCOL_ERROR;
        // The webserver reports our own misuse; it is its word against ours, so it is logged, not fatal.
        if (reason == WSCR_DOUBLE_RECV) Log("ERROR: Webserver reported double websocket recv call from this app.");
        Closed((ws_close_reason_t)reason);
        return;
    }
    default:
        break;
    }
    Log("WARNING: IWebsocket received unexpected message id (%u)", id);
}

void WebserverWebsocketHandler::HandleRecvResult(const WsFrame& frame, void* body)
{
    if (frame.dataSize == 0 && !recvBuffer) recvBuffer = RecvBuffer(0);
    if (frame.dataSize > 0 && body != recvBuffer) {
        Log("ERROR (Buffer overflow): Buffer size previously set with %s::Recv() to small (%u, size needed = %u)",
            name, (unsigned)recvSize, (unsigned)frame.dataSize);
        Close();
        return;
    }
    unsigned flags = frame.generalPurpose >> 16;
    void* buffer = TakeReceive();
    user->WebsocketRecvResult(this, buffer, frame.dataSize, (flags & WSW_FLAG_TEXT) != 0,
                              (flags & WSW_FLAG_FRAGMENT) != 0);
}

void WebserverWebsocketHandler::Closed(ws_close_reason_t reason)
{
    LeaveLink();
    user->WebsocketCloseComplete(this, reason);
}

void WebserverWebsocketHandler::WebserverPluginWillClose()
{
    Closed(WSCR_PLUGIN_LINK_LOST);
}
