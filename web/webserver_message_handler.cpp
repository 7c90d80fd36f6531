#include "web/webserver_message_handler.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "runtime/assert.h"
#include "runtime/instance_log.h"
#include "web/webserver_plugin_link.h"

WebserverMessageHandler::WebserverMessageHandler(WebserverPlugin* link, const char* name, unsigned connectionId,
                                                 unsigned requestType, WebserverRequestInfo info, bool wide)
    : link(link), name(name), connectionId(connectionId), requestType(requestType), info(std::move(info)), meta(wide)
{
    SetFieldList();
}

WebserverMessageHandler::~WebserverMessageHandler()
{
    // An owner that lets go of a live request still owes the webserver its end.
    if (link && (state == ACCEPTED || state == CLOSING)) {
        if (!endSent) SendEnd();
        link->RemoveHandler(this);
    }
}

int WebserverMessageHandler::btree_compare(void* key)
{
    unsigned id = *static_cast<unsigned*>(key);
    return id < connectionId ? -1 : id > connectionId ? 1 : 0;
}

int WebserverMessageHandler::btree_compare(btree* other)
{
    return btree_compare(&static_cast<WebserverMessageHandler*>(other)->connectionId);
}

void WebserverMessageHandler::SetState(State next)
{
    switch (next) {
    case ACCEPTED: ASSERT(state == OFFERED, "WebserverMessageHandler accepted twice"); break;
    case CLOSING: ASSERT(state == ACCEPTED, "WebserverMessageHandler closing when not open"); break;
    case CLOSED: ASSERT(state == ACCEPTED || state == CLOSING, "WebserverMessageHandler closed twice"); break;
    default: FATAL("WebserverMessageHandler impossible state change");
    }
    state = next;
}

void WebserverMessageHandler::Accepted()
{
    SetState(ACCEPTED);
}

void WebserverMessageHandler::Dropped()
{
    // An offered handler that was refused never took part in the traffic.
    ASSERT(state == OFFERED, "WebserverMessageHandler dropped after acceptance");
    link = nullptr;
}

void WebserverMessageHandler::SetFieldList()
{
    const std::string& list = info.headerFields;
    size_t at = 0;
    while (at < list.size()) {
        const char* n = list.c_str() + at;
        at += strlen(n) + 1;
        if (at >= list.size()) break;
        const char* v = list.c_str() + at;
        at += strlen(v) + 1;
        fieldNames.push_back(n);
        fieldValues.push_back(v);
    }
}

const char* WebserverMessageHandler::GetHeaderFieldValue(const char* fieldName)
{
    for (size_t i = 0; i < fieldNames.size(); i++)
        if (!strcasecmp(fieldNames[i], fieldName)) return fieldValues[i];
    return nullptr;
}

void WebserverMessageHandler::Log(const char* fmt, ...)
{
    if (!link) return;
    va_list ap;
    va_start(ap, fmt);
    link->HandlerLog(fmt, ap);
    va_end(ap);
}

void WebserverMessageHandler::SendFrame(unsigned type, unsigned generalPurpose, const void* data, size_t len)
{
    if (link) link->SendFrame(connectionId, type, generalPurpose, data, len);
}

void WebserverMessageHandler::SetHeaderField(const char* fieldName, const char* value)
{
    responseFields.append(fieldName ? fieldName : "");
    responseFields.push_back('\0');
    responseFields.append(value ? value : "");
    responseFields.push_back('\0');
}

void WebserverMessageHandler::SetTransferInfo(wsr_type_t type, unsigned long long dataSize, wsr_flags_t flags,
                                              const char* etag)
{
    meta.SetTransferInfo(type, flags, dataSize);
    if (etag && *etag) meta.SetString(DDT_ETAG, etag);
}

void WebserverMessageHandler::ForceDownloadResponse(const char* fileName)
{
    const size_t limit = 2048;
    std::string value = "attachment";
    if (fileName && strlen("attachment; filename=\"\"") + strlen(fileName) < limit)
        value = std::string("attachment; filename=\"") + fileName + "\"";
    SetHeaderField("Content-Disposition", value.c_str());
}

void WebserverMessageHandler::FlushMetaData()
{
    if (metaSent || !SendsMetaData()) return;
    metaSent = true;
    unsigned generalPurpose = PrepareMetaData();
    if (!responseFields.empty()) meta.SetHeaderFields(responseFields);
    std::string body = meta.Encode();
    SendFrame(WSM_SEND_META_DATA, generalPurpose, body.data(), body.size());
    meta.Clear();
    responseFields.clear();
}

void WebserverMessageHandler::Send(const void* data, size_t len)
{
    ASSERT(len <= WS_MAX_DATA_SIZE, "WebserverMessageHandler::Send more than 65535 bytes");
    if (state != ACCEPTED) {
        Log("NOTE: handler is closing, data will not be sent!");
        return;
    }
    FlushMetaData();
    SendFrame(WSM_SEND, 0, data, len);
    sendsUnconfirmed++;
}

void WebserverMessageHandler::Recv(void* buffer, size_t size)
{
    if (recvPending) {
        char msg[160];
        snprintf(msg, sizeof(msg), "%s::Recv() called before receiving a RecvResult()", name);
        FATAL(msg);
    }
    recvPending = true;
    recvBuffer = buffer;
    recvSize = buffer ? size : 0;
    SendFrame(WSM_RECV, size && size < 0xFFFFFFFFu ? (unsigned)size : WS_MAX_DATA_SIZE, nullptr, 0);
}

void WebserverMessageHandler::Cancel(wsr_cancel_type_t reason)
{
    if (state != ACCEPTED) {
        Log("%s(connection id: %u)::Cancel(reason = %s): will be ignored, because handler already is closing", name,
            connectionId, wsr_cancel_name(reason));
        return;
    }
    // A cancel is the whole answer: no meta data before it, no end after it.
    metaSent = true;
    endSent = true;
    SendFrame(WSM_SEND_META_DATA, reason, nullptr, 0);
    SetState(CLOSING);
}

void WebserverMessageHandler::Close()
{
    Log("%s(connection id: %u)::Close()", name, connectionId);
    if (state != ACCEPTED) return;
    FlushMetaData();
    SetState(CLOSING);
    if (sendsUnconfirmed == 0) SendEnd();
}

void WebserverMessageHandler::SendEnd()
{
    endSent = true;
    SendFrame(WSM_MESSAGE_HANDLER_CLOSED, 0, nullptr, 0);
}

void* WebserverMessageHandler::BodyBuffer(const WsFrame& frame)
{
    if (frame.type != WSM_RECV_RESULT || !recvPending) return nullptr;
    if (!recvBuffer) {
        recvBuffer = RecvBuffer(frame.dataSize);
        recvSize = recvBuffer ? frame.dataSize : 0;
    }
    return frame.dataSize <= recvSize ? recvBuffer : nullptr;
}

void* WebserverMessageHandler::TakeReceive()
{
    recvPending = false;
    void* buffer = recvBuffer;
    recvBuffer = nullptr;
    recvSize = 0;
    return buffer;
}

void WebserverMessageHandler::LeaveLink()
{
    if (link) link->RemoveHandler(this);
    // The owner may keep the handler past the link's life.
    link = nullptr;
    SetState(CLOSED);
    if (recvPending) RecvCanceled(TakeReceive());
}

void WebserverMessageHandler::HandleMessage(const WsFrame& frame, void* body)
{
    switch (frame.type) {
    case WSM_SEND_RESULT:
        if (sendsUnconfirmed == 0) break;
        sendsUnconfirmed--;
        // After Close the owner has said its last word; only the end is still owed.
        if (state == ACCEPTED) SendResult();
        else if (state == CLOSING && sendsUnconfirmed == 0 && !endSent) SendEnd();
        return;
    case WSM_RECV_RESULT:
        if (!recvPending) break;
        if (frame.dataSize == 0 && !recvBuffer) recvBuffer = RecvBuffer(0);
        if (frame.dataSize > 0 && body != recvBuffer) {
            // The pending receive stays: the close hands its buffer back.
            Log("ERROR (Buffer overflow): Buffer size previously set with %s::Recv() to small (%u, size needed = %u)",
                name, (unsigned)recvSize, (unsigned)frame.dataSize);
            Close();
            return;
        }
        {
            void* buffer = TakeReceive();
            RecvResult(buffer, frame.dataSize);
        }
        return;
    case WSM_SHUTDOWN_COMPLETE:
        LeaveLink();
        CloseComplete();
        return;
    default:
        break;
    }
    Log("%s(connection id: %u)::HandleMessage(): ERROR: received unexpected message id (%s) - closing", name,
        connectionId, ws_message_name(frame.type));
    Close();
}

void WebserverMessageHandler::WebserverPluginWillClose()
{
    LeaveLink();
    CloseComplete();
}
