#pragma once

#include <stddef.h>

#include <string>

#include "web/webserver_types.h"

// Item types of an extended header.
enum ddt_type_t {
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
    DDT_COUNT = 19,
};

// An extended header being built: each item is set at most once and the
// items go out in the protocol's fixed order, whatever order they were set in.
// The encoding depends on the link's mode: wide mode carries sizes as u64
// items of their own, narrow mode as u32 inside the transfer info.
class ExtendedHeader {
public:
    explicit ExtendedHeader(bool wide = false) : wide(wide) {}
    void SetWide(bool on) { wide = on; }
    bool IsWide() const { return wide; }

    void SetString(ddt_type_t type, const char* value);
    void SetFlag(ddt_type_t type);
    void SetU32(ddt_type_t type, unsigned value);
    void SetU64(ddt_type_t type, unsigned long long value);
    // name NUL value NUL ...
    void SetHeaderFields(const std::string& list);
    // A size of WS_SIZE_CHUNKED announces chunked transfer; 0 announces nothing in wide mode.
    void SetTransferInfo(wsr_type_t type, wsr_flags_t flags, unsigned long long size);
    void SetRanges(const HTTPRange* ranges, unsigned count);

    bool IsSet(ddt_type_t type) const { return present[type]; }
    bool Empty() const;
    // The whole body: u32 length, then the items; nothing at all when empty.
    std::string Encode() const;
    void Clear();

private:
    void Set(ddt_type_t type, std::string data);

    bool wide;
    bool present[DDT_COUNT] = {};
    std::string items[DDT_COUNT];
};

// A received extended header, checked as a whole before any field is used.
// The fields point into the decoded body, which must outlive the decoder.
class ExtendedHeaderDecoder {
public:
    // False when the body is malformed; then nothing may be read.
    bool Decode(const void* body, size_t len, bool wide);

    bool Has(ddt_type_t type) const { return data[type] != nullptr; }
    // A string item, or null when absent.
    const char* String(ddt_type_t type) const { return (const char*)data[type]; }
    unsigned U32(ddt_type_t type, unsigned absent = 0) const;
    // name NUL value NUL ...; empty when absent.
    std::string HeaderFields() const;
    // Request body size: WS_SIZE_CHUNKED for chunked transfer, 0 when not given.
    unsigned long long DataSize() const;
    unsigned RangeCount() const;
    HTTPRange Range(unsigned index) const;

private:
    bool CheckItem(unsigned type, const unsigned char* item, unsigned n) const;

    bool wide = false;
    const unsigned char* data[DDT_COUNT] = {};
    unsigned length[DDT_COUNT] = {};
};
