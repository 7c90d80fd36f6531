#include "pbx/pbx_message.h"

PbxSignalingMessage::PbxSignalingMessage(int call, const char* type, size_t textRoom)
    // Escaping may make six bytes of one; the rest is names and a number.
    : buffer(6 * textRoom + 512), json(new json_io(buffer.data()))
{
    char* tmp = number;
    unsigned short base = json->add_object(json_io::NONE, nullptr);
    json->add_string(base, "mt", "Signaling");
    json->add_string(base, "api", "PbxSignal");
    json->add_int(base, "call", call, tmp);
    sig = json->add_object(base, "sig");
    json->add_string(sig, "type", type);
}

unsigned short PbxSignalingMessage::AddFacility(const char* type)
{
    unsigned short fty = json->add_array(sig, "fty");
    unsigned short entry = json->add_object(fty, nullptr);
    json->add_string(entry, "type", type);
    return entry;
}
