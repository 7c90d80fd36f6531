#include "web/ws_frame.h"

void WsFrame::Encode(unsigned char out[HEADER_SIZE]) const
{
    ws_put32(out, connectionId);
    ws_put16(out + 4, type);
    ws_put32(out + 6, generalPurpose);
    ws_put16(out + 10, dataSize);
}

WsFrame WsFrame::Decode(const unsigned char in[HEADER_SIZE])
{
    WsFrame f;
    f.connectionId = ws_get32(in);
    f.type = (unsigned short)ws_get16(in + 4);
    f.generalPurpose = ws_get32(in + 6);
    f.dataSize = (unsigned short)ws_get16(in + 10);
    return f;
}

const char* ws_message_name(unsigned type)
{
    static const char* const names[] = {
        "WSM_NONE", "WSM_REGISTER", "WSM_REGISTER_RESULT", "WSM_REGISTER_PASSTHROUGH", "WSM_WEBSOCKET_LISTEN",
        "WSM_GET_REQUEST", "WSM_POST_REQUEST", "WSM_PUT_REQUEST", "WSM_PASSTHROUGH_REQUEST", "WSM_SEND",
        "WSM_SEND_RESULT", "WSM_SEND_META_DATA", "WSM_RECV", "WSM_RECV_RESULT", "WSM_SHUTDOWN",
        "WSM_SHUTDOWN_COMPLETE", "WSM_WEBSOCKET_LISTEN_RESULT", "WSM_WEBSOCKET_MESSAGE", "WSM_MESSAGE_HANDLER_CLOSED",
        "WSM_PROPFIND_REQUEST", "WSM_MOVE_REQUEST", "WSM_COPY_REQUEST", "WSM_MKCOL_REQUEST", "WSM_DELETE_REQUEST",
        "WSM_OPTIONS_REQUEST", "WSM_LOCK_REQUEST", "WSM_UNLOCK_REQUEST", "WSM_PROPPATCH_REQUEST",
        "WSM_SET_CERTIFICATE", "WSM_REQUEST_USER_PASSWORD", "WSM_REQUEST_USER_PASSWORD_RESULT",
        "WSM_SET_PLUGINS_WEB_ROOT", "WSM_SET_AUTH_CONFIG", "WSM_SET_AUTH_CONFIG_RESULT",
        "WSM_SET_PLUGINS_WEB_ROOT_RESULT",
    };
    static_assert(sizeof(names) / sizeof(names[0]) == WSM_SET_PLUGINS_WEB_ROOT_RESULT + 1, "one name per type");
    if (type > WSM_SET_PLUGINS_WEB_ROOT_RESULT) return "<ERROR: type unkown>";
    return names[type];
}

const char* wsr_cancel_name(wsr_cancel_type_t reason)
{
    switch (reason) {
    case WSP_CANCEL_NOT_FOUND: return "WSP_CANCEL_NOT_FOUND";
    case WSP_CANCEL_BAD_REQUEST: return "WSP_CANCEL_BAD_REQUEST";
    case WSP_CANCEL_UNAVAILABLE: return "WSP_CANCEL_UNAVAILABLE";
    case WSP_CANCEL_MISSING_LENGTH: return "WSP_CANCEL_MISSING_LENGTH";
    case WSP_CANCEL_STREAM: return "WSP_CANCEL_STREAM";
    case WSP_CANCEL_ACCESS_DENIED: return "WSP_CANCEL_ACCESS_DENIED";
    case WSP_CANCEL_INTERNAL_ERROR: return "WSP_CANCEL_INTERNAL_ERROR";
    }
    return "<unknown cancel reason>";
}
