// HTTP resources of the file endpoints into routes: whatever the path and
// query hold (broken percent escapes, huge numbers, arguments without "=",
// NULs, nothing at all), the parser ends, and what it accepts keeps the
// promises the instance relies on: ids are not 0, buffer keys fit their
// limit and hold only visible ASCII, names are UTF-8 without control
// characters, and a name encoded for a link decodes to itself.
//
// Byte 0 picks the method (GET, POST, OPTIONS, another); the rest is the
// resource, cut at the first NUL as the link hands it over.
//
// The parser is pure, so the target compiles it in and needs no library.
#include <stdint.h>
#include <string.h>

#include <string>

#include "messages/http/file_route.h"
#include "messages/http/url_text.h"

namespace {

void Check(bool ok)
{
    if (!ok) __builtin_trap();
}

bool Clean(const std::string& name)
{
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!size) return 0;
    static const ws_request_type_t types[] = {WS_REQUEST_GET, WS_REQUEST_POST, WS_REQUEST_OPTIONS, WS_REQUEST_PUT};
    ws_request_type_t type = types[data[0] & 3];
    std::string resource((const char*)data + 1, size - 1);
    MessagesFileRoute r = MessagesRouteRequest(type, resource.c_str());
    switch (r.kind) {
    case MessagesFileRoute::BUFFER_GET:
    case MessagesFileRoute::BUFFER_POST:
        Check(r.id != 0 && r.key.size() <= MESSAGES_BUFFER_KEY_MAX);
        for (unsigned char c : r.key) Check(c > ' ' && c < 0x7F && c != '/');
        break;
    case MessagesFileRoute::FILE_GET: Check(r.id != 0 && Clean(r.name)); break;
    case MessagesFileRoute::FILE_POST: Check(r.message != 0 && r.id == 0 && Clean(r.name)); break;
    case MessagesFileRoute::FILE_DEL: Check(r.message != 0 && r.id != 0); break;
    case MessagesFileRoute::OPTIONS: Check(type == WS_REQUEST_OPTIONS); break;
    case MessagesFileRoute::STATIC: Check(type == WS_REQUEST_GET); break;
    default: break;
    }
    bool decoded = r.kind == MessagesFileRoute::FILE_GET || r.kind == MessagesFileRoute::FILE_POST;
    if (decoded) {
        std::string link = MessagesUrlEncode(r.name), back;
        Check(MessagesUrlDecode(link.data(), link.size(), back) && back == r.name);
    }
    // Numbers of any text: decimal ones agree with their digits' value.
    unsigned long long n = 0;
    if (MessagesUrlNumber(resource.data(), resource.size(), false, n)) {
        unsigned long long v = 0;
        for (char c : resource) v = v * 10 + (unsigned)(c - '0');
        Check(v == n);
    }
    return 0;
}
