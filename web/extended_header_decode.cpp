#include "web/extended_header.h"

#include <string.h>

#include "runtime/assert.h"
#include "web/ws_frame.h"

bool ExtendedHeaderDecoder::CheckItem(unsigned type, const unsigned char* item, unsigned n) const
{
    switch (type) {
    case DDT_REQUEST_PATH:
    case DDT_REGISTERED_PATH_FOR_REQUEST:
    case DDT_ETAG:
    case DDT_HOST:
    case DDT_PATH_TO_REGISTER:
    case DDT_AUTH_USER:
    case DDT_AUTH_PASSWORD:
    case DDT_CERTIFICATE_HOST:
    case DDT_CERTIFICATE_PASSWORD:
    case DDT_REDIRECT_PATH:
        // Readers take these as C strings, so the NUL must be inside the item.
        return n > 0 && item[n - 1] == 0;
    case DDT_HEADER_FIELDS: {
        if (n == 0 || item[n - 1] != 0) return false;
        unsigned strings = 0;
        for (unsigned i = 0; i < n; i++)
            if (!item[i]) strings++;
        return strings % 2 == 0;
    }
    case DDT_CONNECTION_FLAGS:
    case DDT_WEBSOCKET_CLOSE_REASON:
    case DDT_CERTIFICATE_SIZE:
        return n == 4;
    case DDT_DATA_SIZE:
        return n == 8;
    case DDT_TRANSFER_INFO:
        return n == 4 || n == 8;
    case DDT_REQUEST_RANGES: {
        if (n < 4) return false;
        unsigned per = wide ? 17 : 9;
        unsigned long long count = ws_get32(item);
        return count <= (n - 4) / per && 4 + count * per == n;
    }
    default:
        // The two flag items: presence is all that counts.
        return true;
    }
}

bool ExtendedHeaderDecoder::Decode(const void* body, size_t len, bool wideMode)
{
    wide = wideMode;
    memset(data, 0, sizeof(data));
    memset(length, 0, sizeof(length));
    if (len == 0) return true;
    const unsigned char* p = (const unsigned char*)body;
    if (len < 4 || ws_get32(p) != len - 4) return false;
    size_t at = 4;
    while (at < len) {
        if (len - at < 3) return false;
        unsigned type = p[at];
        unsigned n = ws_get16(p + at + 1);
        const unsigned char* item = p + at + 3;
        if (len - at - 3 < n) return false;
        at += 3 + n;
        if (type >= DDT_COUNT) continue;
        if (!CheckItem(type, item, n)) return false;
        data[type] = item;
        length[type] = n;
    }
    return true;
}

unsigned ExtendedHeaderDecoder::U32(ddt_type_t type, unsigned absent) const
{
    return data[type] && length[type] == 4 ? ws_get32(data[type]) : absent;
}

std::string ExtendedHeaderDecoder::HeaderFields() const
{
    if (!data[DDT_HEADER_FIELDS]) return std::string();
    return std::string((const char*)data[DDT_HEADER_FIELDS], length[DDT_HEADER_FIELDS]);
}

unsigned long long ExtendedHeaderDecoder::DataSize() const
{
    if (data[DDT_CHUNK_ENCODED_TRANSFER]) return WS_SIZE_CHUNKED;
    if (data[DDT_DATA_SIZE]) return ws_get64(data[DDT_DATA_SIZE]);
    if (data[DDT_TRANSFER_INFO] && length[DDT_TRANSFER_INFO] == 8) {
        unsigned size = ws_get32(data[DDT_TRANSFER_INFO] + 4);
        return size == 0xFFFFFFFFu ? WS_SIZE_CHUNKED : size;
    }
    return 0;
}

unsigned ExtendedHeaderDecoder::RangeCount() const
{
    return data[DDT_REQUEST_RANGES] ? ws_get32(data[DDT_REQUEST_RANGES]) : 0;
}

HTTPRange ExtendedHeaderDecoder::Range(unsigned index) const
{
    ASSERT(index < RangeCount(), "ExtendedHeaderDecoder::Range index out of range");
    const unsigned char* r = data[DDT_REQUEST_RANGES] + 4 + index * (wide ? 17 : 9);
    HTTPRange out;
    out.kind = r[0];
    out.start = wide ? ws_get64(r + 1) : ws_get32(r + 1);
    out.end = wide ? ws_get64(r + 9) : ws_get32(r + 5);
    return out;
}
