#include "web/extended_header.h"

#include <string.h>

#include "runtime/assert.h"
#include "web/ws_frame.h"

namespace {
// The order in which items go out on the wire.
const ddt_type_t writeOrder[] = {
    DDT_REQUEST_PATH, DDT_REGISTERED_PATH_FOR_REQUEST, DDT_ETAG, DDT_HEADER_FIELDS, DDT_PATH_TO_REGISTER,
    DDT_AUTH_USER, DDT_AUTH_PASSWORD, DDT_HOST, DDT_CONNECTION_FLAGS, DDT_WEBSOCKET_CLOSE_REASON,
    DDT_CERTIFICATE_HOST, DDT_CERTIFICATE_PASSWORD, DDT_CERTIFICATE_SIZE, DDT_REDIRECT_PATH,
    DDT_DYNAMIC_AUTHENTICATION, DDT_DATA_SIZE, DDT_CHUNK_ENCODED_TRANSFER, DDT_TRANSFER_INFO, DDT_REQUEST_RANGES,
};
static_assert(sizeof(writeOrder) / sizeof(writeOrder[0]) == DDT_COUNT, "every item has its place");

std::string Bytes(const unsigned char* p, size_t n)
{
    return std::string((const char*)p, n);
}
}  // namespace

void ExtendedHeader::Set(ddt_type_t type, std::string value)
{
    ASSERT(!present[type], "ExtendedHeader item set twice");
    ASSERT(value.size() <= WS_MAX_DATA_SIZE, "ExtendedHeader item too long");
    present[type] = true;
    items[type] = std::move(value);
}

void ExtendedHeader::SetString(ddt_type_t type, const char* value)
{
    Set(type, std::string(value ? value : "", value ? strlen(value) + 1 : 1));
}

void ExtendedHeader::SetFlag(ddt_type_t type)
{
    Set(type, std::string());
}

void ExtendedHeader::SetU32(ddt_type_t type, unsigned value)
{
    unsigned char b[4];
    ws_put32(b, value);
    Set(type, Bytes(b, 4));
}

void ExtendedHeader::SetU64(ddt_type_t type, unsigned long long value)
{
    unsigned char b[8];
    ws_put64(b, value);
    Set(type, Bytes(b, 8));
}

void ExtendedHeader::SetHeaderFields(const std::string& list)
{
    Set(DDT_HEADER_FIELDS, list);
}

void ExtendedHeader::SetTransferInfo(wsr_type_t type, wsr_flags_t flags, unsigned long long size)
{
    unsigned char b[8];
    ws_put16(b, type);
    ws_put16(b + 2, flags);
    if (wide) {
        Set(DDT_TRANSFER_INFO, Bytes(b, 4));
        if (size == WS_SIZE_CHUNKED) SetFlag(DDT_CHUNK_ENCODED_TRANSFER);
        else if (size) SetU64(DDT_DATA_SIZE, size);
        return;
    }
    ws_put32(b + 4, size >= 0xFFFFFFFFULL ? 0xFFFFFFFFu : (unsigned)size);
    Set(DDT_TRANSFER_INFO, Bytes(b, 8));
}

void ExtendedHeader::SetRanges(const HTTPRange* ranges, unsigned count)
{
    std::string out;
    unsigned char b[17];
    ws_put32(b, count);
    out.append((const char*)b, 4);
    for (unsigned i = 0; i < count; i++) {
        b[0] = (unsigned char)ranges[i].kind;
        if (wide) {
            ws_put64(b + 1, ranges[i].start);
            ws_put64(b + 9, ranges[i].end);
            out.append((const char*)b, 17);
        }
        else {
            ws_put32(b + 1, ranges[i].start > 0xFFFFFFFFULL ? 0xFFFFFFFFu : (unsigned)ranges[i].start);
            ws_put32(b + 5, ranges[i].end > 0xFFFFFFFFULL ? 0xFFFFFFFFu : (unsigned)ranges[i].end);
            out.append((const char*)b, 9);
        }
    }
    Set(DDT_REQUEST_RANGES, std::move(out));
}

bool ExtendedHeader::Empty() const
{
    for (bool p : present)
        if (p) return false;
    return true;
}

std::string ExtendedHeader::Encode() const
{
    if (Empty()) return std::string();
    std::string out(4, '\0');
    for (ddt_type_t type : writeOrder) {
        if (!present[type]) continue;
        unsigned char item[3];
        item[0] = (unsigned char)type;
        ws_put16(item + 1, (unsigned)items[type].size());
        out.append((const char*)item, 3);
        out.append(items[type]);
    }
    ASSERT(out.size() <= WS_MAX_DATA_SIZE, "ExtendedHeader::Encode larger than one message");
    ws_put32((unsigned char*)&out[0], (unsigned)out.size() - 4);
    return out;
}

void ExtendedHeader::Clear()
{
    for (unsigned i = 0; i < DDT_COUNT; i++) {
        present[i] = false;
        items[i].clear();
    }
}
