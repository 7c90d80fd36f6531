// The "PbxSignal" messages as the PBX sees them: what arrives, decoded into
// plain strings, and the "sig" objects a phone side sends.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace pbx {

// The string members of one "fty" entry, by name.
using Facility = std::map<std::string, std::string>;

// One message from the instance. Signaling fields stay empty for other messages.
struct PbxMessage {
    std::string text;  // as it came
    std::string mt, api;
    std::map<std::string, std::string> members;  // top-level values other than objects and arrays, as text
    bool hasCall = false;
    long long call = 0;
    std::string type;  // "sig"."type"
    std::string cg, cd;  // "sig"."cg"."sip", "sig"."cd"."sip"
    std::vector<Facility> fty;

    // False when the text is no JSON object.
    bool Parse(const std::string& message);
    bool IsSignaling() const { return mt == "Signaling" && hasCall; }
    // The first "fty" entry of that type, or null.
    const Facility* Fty(const std::string& entryType) const;
    // A member of that entry, "" when either is missing.
    std::string FtyMember(const std::string& entryType, const std::string& name) const;
    // The unread count of a presence notification (0 without "note"), or -1 when this is none.
    long long Badge() const;
};

// A call the phone side presents: a presence subscription, a chat call to a group, or both.
struct Setup {
    std::string cg, cd;
    bool subscribe = false;  // "presence_subscribe"
    bool im = false;         // "im_setup"
    std::vector<std::pair<std::string, std::string>> apps;  // "app" entries: topic and display name
    std::vector<std::string> groups;                        // "monitor_group" entries
    std::string name;                                       // "name_identification", when not empty
};

// The members of an "im_message"; empty ones are left out.
struct ImText {
    std::string data, sender, senderDn, mime, attach;
};

std::string SetupSig(const Setup& setup);
std::string TextSig(const ImText& text);
// {"type": type}: "call-proc", "alert", "conn", "rel".
std::string TypeSig(const std::string& type);
// The whole message carrying `sig` (any JSON text) for a call.
std::string SignalingMessage(long long call, const std::string& sig);

}  // namespace pbx
