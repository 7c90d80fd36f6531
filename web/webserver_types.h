#pragma once

// The numbers of the plugin protocol between an app instance and the
// platform webserver, shared by the link, its request handlers and owners.

const unsigned WS_MAX_DATA_SIZE = 65535;
const unsigned WS_MAX_PATH_LEN = 8192;
const unsigned WS_LINK_CONNECTION_ID = 0xFFFFFF00;
const unsigned long long WS_SIZE_CHUNKED = ~0ULL;

enum ws_message_t {
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
};

// The log name of a message type; "<ERROR: type unkown>" above 34.
const char* ws_message_name(unsigned type);

enum wsp_path_type_t {
    WSP_PATH_TYPE_HTTP = 0,
    WSP_PATH_TYPE_WEBSOCKET = 1,
    WSP_PATH_TYPE_PASSTHROUGH = 2,
};

enum ws_request_type_t {
    WS_REQUEST_GET = 1,
    WS_REQUEST_POST = 2,
    WS_REQUEST_PUT = 4,
    WS_REQUEST_PASSTHROUGH = 8,
    WS_REQUEST_PROPFIND = 16,
    WS_REQUEST_MOVE = 32,
    WS_REQUEST_COPY = 64,
    WS_REQUEST_MKCOL = 128,
    WS_REQUEST_DELETE = 256,
    WS_REQUEST_OPTIONS = 512,
    WS_REQUEST_LOCK = 1024,
    WS_REQUEST_UNLOCK = 2048,
    WS_REQUEST_PROPPATCH = 4096,
};

enum wsp_close_reason_t {
    WSP_NORMAL_CLOSE = 0,
    WSP_REGISTER_PATH_INVALID = 1,
    WSP_WEBSOCKET_PATH_INVALID = 2,
    WSP_WEBSOCKET_PATH_ALREADY_LISTENING = 3,
    WSP_PATH_ALREADY_REGISTERD = 4,
    WSP_ADDRESS_INVALID = 5,
    WSP_CONNECTION_ERROR = 6,
};

enum wsr_cancel_type_t {
    WSP_CANCEL_NOT_FOUND = 16,
    WSP_CANCEL_BAD_REQUEST = 17,
    WSP_CANCEL_UNAVAILABLE = 18,
    WSP_CANCEL_MISSING_LENGTH = 19,
    WSP_CANCEL_STREAM = 20,
    WSP_CANCEL_ACCESS_DENIED = 21,
    WSP_CANCEL_INTERNAL_ERROR = 22,
};

const char* wsr_cancel_name(wsr_cancel_type_t reason);

enum wsr_type_t {
    WSP_INT_UNDEFINED = 0,
    WSP_INT_REDIRECT = 1,
    WSP_INT_UNCHANGED = 2,
    WSP_RESPONSE_NO_TYPE = 256,
    WSP_RESPONSE_BINARY,
    WSP_RESPONSE_JAVA,
    WSP_RESPONSE_WAV,
    WSP_RESPONSE_OGG,
    WSP_RESPONSE_MP3,
    WSP_RESPONSE_GIF,
    WSP_RESPONSE_PNG,
    WSP_RESPONSE_BMP,
    WSP_RESPONSE_ICON,
    WSP_RESPONSE_TTF,
    WSP_RESPONSE_EOT,
    WSP_RESPONSE_PDF,
    WSP_RESPONSE_TEXT,
    WSP_RESPONSE_XML,
    WSP_RESPONSE_CSS,
    WSP_RESPONSE_JAVASCRIPT,
    WSP_RESPONSE_JSON,
    WSP_RESPONSE_HTML,
    WSP_RESPONSE_SVG,
    WSP_RESPONSE_WOFF,
    WSP_RESPONSE_G711,
    WSP_RESPONSE_G722,
    WSP_RESPONSE_G729,
    WSP_RESPONSE_JPEG,
    WSP_RESPONSE_MP4,
    WSP_RESPONSE_WEBM,
    WSP_RESPONSE_PEM,
    WSP_RESPONSE_MOBILECONFIG,
    WSP_RESPONSE_CACHE_MANIFEST,
    WSP_RESPONSE_OPUS,
    WSP_RESPONSE_CSV,
};
static_assert(WSP_RESPONSE_CSV == 287, "wsr_type_t values are fixed by the protocol");

// Bit 0: the body is gzip-encoded content. Other bits are not used here.
typedef unsigned short wsr_flags_t;
const wsr_flags_t WSR_FLAG_GZIP = 1;

typedef unsigned connection_flags_t;
const connection_flags_t WS_CONNECTION_ENCRYPTED = 0x1;
const connection_flags_t WS_CONNECTION_LOCAL_HOST = 0x8;
const connection_flags_t WS_CONNECTION_SYS_CLIENT = 0x10;

// How a websocket ended. The webserver sends 0 to 4; the last is what the
// service reports itself when the whole link is lost.
enum ws_close_reason_t {
    WSCR_NORMAL_CLOSE = 0,
    WSCR_CONNECTION_LOST = 1,
    WSCR_PROTOCOL_ERROR = 2,
    WSCR_MESSAGE_TOO_LARGE = 3,
    WSCR_DOUBLE_RECV = 4,
    WSCR_PLUGIN_LINK_LOST = 5,
};

// Opaque answer of the webserver to WSM_SET_AUTH_CONFIG.
enum ws_update_auth_result_t {
    WS_UPDATE_AUTH_OK = 0,
    WS_UPDATE_AUTH_FAILED = 1,
};

// WebDAV result codes travel as an opaque value.
typedef unsigned webdav_result_t;
const webdav_result_t WEBDAV_RESULT_OK = 0;
const webdav_result_t WEBDAV_RESULT_CREATED = 1;
const webdav_result_t WEBDAV_RESULT_NO_CONTENT = 2;
const webdav_result_t WEBDAV_RESULT_MULTIPLE_STATUS = 3;
const webdav_result_t WEBDAV_RESULT_FORBIDDEN = 4;
const webdav_result_t WEBDAV_RESULT_CONFLICT = 5;
const webdav_result_t WEBDAV_RESULT_LOCKED = 6;

// Kinds of a requested byte range; end is inclusive.
enum http_range_kind_t {
    HTTP_RANGE_INVALID = 0,
    HTTP_RANGE_START_END = 1,
    HTTP_RANGE_FROM_START = 2,
    HTTP_RANGE_LAST = 3,
};

struct HTTPRange {
    unsigned kind;
    unsigned long long start;
    unsigned long long end;
};
