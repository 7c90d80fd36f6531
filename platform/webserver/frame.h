// The 12-byte frame header of the plugin protocol, big-endian on the wire.
#pragma once

#include <stdint.h>

#include <string>

namespace wsp {

struct FrameHeader {
    uint32_t connection = 0;
    uint16_t type = 0;
    uint32_t general = 0;
    uint16_t size = 0;
};

FrameHeader DecodeFrameHeader(const unsigned char* bytes);

// Header and body in one string, ready for one write. The body must fit in 65535 bytes.
std::string EncodeFrame(uint32_t connection, uint16_t type, uint32_t general, const std::string& body = std::string());

inline void PutU16(std::string& out, uint16_t v)
{
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}
inline void PutU32(std::string& out, uint32_t v)
{
    PutU16(out, uint16_t(v >> 16));
    PutU16(out, uint16_t(v));
}
inline void PutU64(std::string& out, uint64_t v)
{
    PutU32(out, uint32_t(v >> 32));
    PutU32(out, uint32_t(v));
}
inline uint16_t GetU16(const unsigned char* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t GetU32(const unsigned char* p) { return uint32_t(GetU16(p)) << 16 | GetU16(p + 2); }
inline uint64_t GetU64(const unsigned char* p) { return uint64_t(GetU32(p)) << 32 | GetU32(p + 4); }

}  // namespace wsp
