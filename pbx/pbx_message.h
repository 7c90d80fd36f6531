#pragma once

#include <stddef.h>

#include <memory>
#include <vector>

#include "json/json_io.h"

// A "Signaling" message of the "PbxSignal" API for one call, built here and
// sent by the link: {"mt","api","call","sig":{"type",...}}. Strings added to
// Sig() are not copied and must outlive the message.
class PbxSignalingMessage {
public:
    // textRoom: the bytes of the strings the caller adds, before escaping.
    PbxSignalingMessage(int call, const char* type, size_t textRoom = 0);
    PbxSignalingMessage(const PbxSignalingMessage&) = delete;
    PbxSignalingMessage& operator=(const PbxSignalingMessage&) = delete;

    json_io& Json() { return *json; }
    unsigned short Sig() const { return sig; }
    // The "fty" array of the sig with one object of that type in it.
    unsigned short AddFacility(const char* type);
    char* Buffer() { return buffer.data(); }

private:
    std::vector<char> buffer;
    // On the heap: the item table is too large for a callback's stack.
    std::unique_ptr<json_io> json;
    char number[16];
    unsigned short sig;
};
