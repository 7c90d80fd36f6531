#include "platform/webserver/frame.h"

#include <assert.h>

#include "platform/webserver/plugin_protocol.h"

namespace wsp {

FrameHeader DecodeFrameHeader(const unsigned char* p)
{
    FrameHeader h;
    h.connection = GetU32(p);
    h.type = GetU16(p + 4);
    h.general = GetU32(p + 6);
    h.size = GetU16(p + 10);
    return h;
}

std::string EncodeFrame(uint32_t connection, uint16_t type, uint32_t general, const std::string& body)
{
    assert(body.size() <= kMaxDataSize);
    std::string out;
    out.reserve(kFrameHeaderSize + body.size());
    PutU32(out, connection);
    PutU16(out, type);
    PutU32(out, general);
    PutU16(out, uint16_t(body.size()));
    out += body;
    return out;
}

}  // namespace wsp
