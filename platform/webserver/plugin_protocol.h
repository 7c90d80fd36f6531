// Numbers of the plugin protocol spoken with `messages` instances on the Unix socket.
#pragma once

#include <stdint.h>

namespace wsp {

constexpr uint32_t kLinkConnectionId = 0xFFFFFF00;
constexpr size_t kFrameHeaderSize = 12;
constexpr size_t kMaxDataSize = 65535;
constexpr size_t kMaxPathLength = 8192;

enum MessageType : uint16_t {
    WSM_NONE = 0,
    WSM_REGISTER = 1,
    WSM_REGISTER_RESULT = 2,
    WSM_REGISTER_PASSTHROUGH = 3,
    WSM_WEBSOCKET_LISTEN = 4,
    WSM_GET_REQUEST = 5,
    WSM_POST_REQUEST = 6,
    WSM_PUT_REQUEST = 7,
    WSM_PASSTHROUGH_REQUEST = 8,
    WSM_SEND = 9,
    WSM_SEND_RESULT = 10,
    WSM_SEND_META_DATA = 11,
    WSM_RECV = 12,
    WSM_RECV_RESULT = 13,
    WSM_SHUTDOWN = 14,
    WSM_SHUTDOWN_COMPLETE = 15,
    WSM_WEBSOCKET_LISTEN_RESULT = 16,
    WSM_WEBSOCKET_MESSAGE = 17,
    WSM_MESSAGE_HANDLER_CLOSED = 18,
    WSM_PROPFIND_REQUEST = 19,
    WSM_MOVE_REQUEST = 20,
    WSM_COPY_REQUEST = 21,
    WSM_MKCOL_REQUEST = 22,
    WSM_DELETE_REQUEST = 23,
    WSM_OPTIONS_REQUEST = 24,
    WSM_LOCK_REQUEST = 25,
    WSM_UNLOCK_REQUEST = 26,
    WSM_PROPPATCH_REQUEST = 27,
    WSM_SET_CERTIFICATE = 28,
    WSM_REQUEST_USER_PASSWORD = 29,
    WSM_REQUEST_USER_PASSWORD_RESULT = 30,
    WSM_SET_PLUGINS_WEB_ROOT = 31,
    WSM_SET_AUTH_CONFIG = 32,
    WSM_SET_AUTH_CONFIG_RESULT = 33,
    WSM_SET_PLUGINS_WEB_ROOT_RESULT = 34,
    WSM_LAST = 34,
};

enum ItemType : uint8_t {
    DDT_REQUEST_PATH = 0,
    DDT_REGISTERED_PATH_FOR_REQUEST = 1,
    DDT_ETAG = 2,
    DDT_REQUEST_RANGES = 3,
    DDT_CONNECTION_FLAGS = 4,
    DDT_HEADER_FIELDS = 5,
    DDT_HOST = 6,
    DDT_PATH_TO_REGISTER = 7,
    DDT_AUTH_USER = 8,
    DDT_AUTH_PASSWORD = 9,
    DDT_WEBSOCKET_CLOSE_REASON = 10,
    DDT_TRANSFER_INFO = 11,
    DDT_CERTIFICATE_HOST = 12,
    DDT_CERTIFICATE_PASSWORD = 13,
    DDT_CERTIFICATE_SIZE = 14,
    DDT_REDIRECT_PATH = 15,
    DDT_DYNAMIC_AUTHENTICATION = 16,
    DDT_DATA_SIZE = 17,
    DDT_CHUNK_ENCODED_TRANSFER = 18,
    DDT_LAST = 18,
};

// Results of a registration (general purpose of WSM_REGISTER_RESULT).
enum RegisterResult : uint32_t { REGISTER_OK = 0, REGISTER_PATH_INVALID = 1, REGISTER_ALREADY_REGISTERED = 2 };

enum PathType { PATH_HTTP = 0, PATH_WEBSOCKET = 1, PATH_PASSTHROUGH = 2 };

enum CancelType : uint32_t {
    WSP_CANCEL_NOT_FOUND = 16,
    WSP_CANCEL_BAD_REQUEST = 17,
    WSP_CANCEL_UNAVAILABLE = 18,
    WSP_CANCEL_MISSING_LENGTH = 19,
    WSP_CANCEL_STREAM = 20,
    WSP_CANCEL_ACCESS_DENIED = 21,
    WSP_CANCEL_INTERNAL_ERROR = 22,
};

enum ResourceType : uint16_t {
    WSP_INT_UNDEFINED = 0,
    WSP_INT_REDIRECT = 1,
    WSP_INT_UNCHANGED = 2,
    WSP_RESPONSE_NO_TYPE = 256,
    WSP_RESPONSE_CSV = 287,
};

enum ResourceFlags : uint16_t { WSP_FLAG_GZIP = 1 };

enum ConnectionFlags : uint32_t {
    CONNECTION_ENCRYPTED = 1u << 0,
    CONNECTION_LOCAL_HOST = 1u << 3,
    CONNECTION_SYS_CLIENT = 1u << 4,
};

// Range kinds of DDT_REQUEST_RANGES.
enum RangeKind : uint8_t { RANGE_INVALID = 0, RANGE_FROM_TO = 1, RANGE_FROM = 2, RANGE_LAST = 3 };

// Websocket sub-messages: the id is the low 16 bits of the general purpose field.
enum WebsocketMessage : uint16_t {
    WS_REJECT = 1,
    WS_ACCEPT_COMPLETE = 2,
    WS_SEND = 3,
    WS_SEND_RESULT = 4,
    WS_RECV = 5,
    WS_RECV_RESULT = 6,
    WS_CLOSE = 7,
    WS_CLOSED = 8,
};
constexpr uint16_t kWebsocketFlagText = 0x8000;
constexpr uint16_t kWebsocketFlagFragment = 0x4000;

// Reasons carried in WS_CLOSED.
enum WebsocketCloseReason : uint16_t {
    WS_CLOSE_NORMAL = 0,
    WS_CLOSE_CONNECTION_LOST = 1,  // the client went away without a close
    WS_CLOSE_PROTOCOL_ERROR = 2,
    WS_CLOSE_TOO_BIG = 3,
    WS_CLOSE_DOUBLE_RECV = 4,
};

}  // namespace wsp
