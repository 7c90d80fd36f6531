#pragma once

#include <stddef.h>

#include "web/webserver_types.h"

// The fixed 12-byte header in front of every plugin message, big-endian:
// connection id, message type, general purpose, data size.
struct WsFrame {
    static const size_t HEADER_SIZE = 12;

    unsigned connectionId = 0;
    unsigned short type = WSM_NONE;
    unsigned generalPurpose = 0;
    unsigned short dataSize = 0;

    void Encode(unsigned char out[HEADER_SIZE]) const;
    static WsFrame Decode(const unsigned char in[HEADER_SIZE]);
};

// Big-endian helpers for frames and extended headers.
inline void ws_put16(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)(v >> 8);
    p[1] = (unsigned char)v;
}
inline void ws_put32(unsigned char* p, unsigned v)
{
    ws_put16(p, v >> 16);
    ws_put16(p + 2, v);
}
inline void ws_put64(unsigned char* p, unsigned long long v)
{
    ws_put32(p, (unsigned)(v >> 32));
    ws_put32(p + 4, (unsigned)v);
}
inline unsigned ws_get16(const unsigned char* p)
{
    return (unsigned)p[0] << 8 | p[1];
}
inline unsigned ws_get32(const unsigned char* p)
{
    return ws_get16(p) << 16 | ws_get16(p + 2);
}
inline unsigned long long ws_get64(const unsigned char* p)
{
    return (unsigned long long)ws_get32(p) << 32 | ws_get32(p + 4);
}
