#include "messages/http/file_route.h"

#include <string.h>

#include "messages/http/url_text.h"

namespace {

const char BUFFER_PREFIX[] = "/buffer/";
const char FILES_PREFIX[] = "/files/";

bool Starts(const char* path, size_t length, const char* prefix, size_t prefixLength)
{
    return length >= prefixLength && !memcmp(path, prefix, prefixLength);
}

// A number argument; false when it is missing or no number.
bool Number(const char* query, const char* name, unsigned long long& value)
{
    const char* text;
    size_t length;
    return MessagesUrlArgument(query, name, text, length) && MessagesUrlNumber(text, length, true, value);
}

// An argument that may be missing (0 then), but is a number when given.
bool OptionalNumber(const char* query, const char* name, unsigned long long& value)
{
    const char* text;
    size_t length;
    value = 0;
    return !MessagesUrlArgument(query, name, text, length) || MessagesUrlNumber(text, length, true, value);
}

size_t Characters(const std::string& utf8)
{
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
    return n;
}

// Keys are ours, letters and digits; a byte the database's text cannot hold
// would only make its statement fail.
bool KeyText(const char* key, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if ((unsigned char)key[i] <= ' ' || (unsigned char)key[i] >= 0x7F) return false;
    return true;
}

// "ID/KEY/REST" after "/buffer/": a decimal id that is not 0, a key of at
// most MESSAGES_BUFFER_KEY_MAX visible ASCII characters (maybe none), and a name.
bool BufferPath(const char* path, size_t length, MessagesFileRoute& r)
{
    const char* end = path + length;
    const char* slash = (const char*)memchr(path, '/', length);
    if (!slash || !MessagesUrlNumber(path, (size_t)(slash - path), false, r.id) || !r.id) return false;
    const char* key = slash + 1;
    const char* keyEnd = (const char*)memchr(key, '/', (size_t)(end - key));
    if (!keyEnd || (size_t)(keyEnd - key) > MESSAGES_BUFFER_KEY_MAX || !KeyText(key, (size_t)(keyEnd - key)))
        return false;
    r.key.assign(key, keyEnd);
    r.name.assign(keyEnd + 1, end);
    return true;
}

// "ID/PATH" after "/files/", and the session that asks.
bool FilePath(const char* path, size_t length, const char* query, MessagesFileRoute& r)
{
    const char* slash = (const char*)memchr(path, '/', length);
    if (!slash || !MessagesUrlNumber(path, (size_t)(slash - path), true, r.id) || !r.id) return false;
    if (!MessagesUrlDecode(slash + 1, (size_t)(path + length - slash - 1), r.name)) return false;
    return Number(query, "session", r.session) && Number(query, "key", r.sessionKey) &&
           OptionalNumber(query, "usersession", r.userSession);
}

// An upload ("file-name") or a deletion ("del" not 0) of a file of message "msg-id".
bool FileChange(const char* query, MessagesFileRoute& r)
{
    if (!Number(query, "msg-id", r.message) || !r.message) return false;
    if (!Number(query, "session", r.session) || !Number(query, "key", r.sessionKey)) return false;
    if (!OptionalNumber(query, "del", r.id)) return false;
    if (r.id) {
        r.kind = MessagesFileRoute::FILE_DEL;
        return true;
    }
    const char* name;
    size_t length;
    if (!MessagesUrlArgument(query, "file-name", name, length)) return false;
    if (!MessagesUrlDecode(name, length, r.name) || Characters(r.name) > MESSAGES_FILE_NAME_MAX) return false;
    r.kind = MessagesFileRoute::FILE_POST;
    return true;
}

}  // namespace

MessagesFileRoute MessagesRouteRequest(ws_request_type_t type, const char* resource)
{
    MessagesFileRoute r;
    if (type == WS_REQUEST_OPTIONS) {
        r.kind = MessagesFileRoute::OPTIONS;
        return r;
    }
    if (!resource || (type != WS_REQUEST_GET && type != WS_REQUEST_POST)) return r;
    size_t length = strcspn(resource, "?");
    const char* query = resource[length] ? resource + length + 1 : "";
    bool buffer = Starts(resource, length, BUFFER_PREFIX, sizeof(BUFFER_PREFIX) - 1);
    if (buffer) {
        const char* rest = resource + sizeof(BUFFER_PREFIX) - 1;
        if (!BufferPath(rest, length - (sizeof(BUFFER_PREFIX) - 1), r)) return MessagesFileRoute();
        r.kind = type == WS_REQUEST_GET ? MessagesFileRoute::BUFFER_GET : MessagesFileRoute::BUFFER_POST;
        return r;
    }
    if (type == WS_REQUEST_POST) return FileChange(query, r) ? r : MessagesFileRoute();
    if (Starts(resource, length, FILES_PREFIX, sizeof(FILES_PREFIX) - 1)) {
        const char* rest = resource + sizeof(FILES_PREFIX) - 1;
        if (!FilePath(rest, length - (sizeof(FILES_PREFIX) - 1), query, r)) return MessagesFileRoute();
        r.kind = MessagesFileRoute::FILE_GET;
        return r;
    }
    r.kind = MessagesFileRoute::STATIC;
    return r;
}
