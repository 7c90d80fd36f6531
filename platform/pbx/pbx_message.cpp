#include "platform/pbx/pbx_message.h"

#include <stdlib.h>

#include <memory>

#include "json/json_io.h"
#include "platform/webserver/login_text.h"

namespace pbx {

namespace {

std::string Text(const char* s)
{
    return s ? s : "";
}

// The "sip" of a member object such as "cg".
std::string Sip(const json_io& doc, unsigned short sig, const char* name)
{
    unsigned short party = doc.get_object(sig, name);
    return party == json_io::NONE ? std::string() : Text(doc.get_string(party, "sip"));
}

void ReadFacilities(const json_io& doc, unsigned short sig, std::vector<Facility>& out)
{
    unsigned short list = doc.get_array(sig, "fty");
    if (list == json_io::NONE) return;
    unsigned short last = 0;
    for (unsigned short entry; (entry = doc.get_object(list, last)) != json_io::NONE;) {
        Facility f;
        unsigned short member = 0;
        unsigned char type, flags;
        const char *name, *value;
        while (doc.get_next(entry, member, type, flags, name, value) != json_io::NONE)
            if (name && type == json_io::VALUE && (flags & json_io::FLAG_QUOTED)) f[name] = Text(value);
        out.push_back(std::move(f));
    }
}

std::string Member(const std::string& name, const std::string& value)
{
    return ",\"" + name + "\":" + wsp::JsonString(value);
}

std::string Entry(const std::string& type, const std::string& members = "")
{
    return "{\"type\":" + wsp::JsonString(type) + members + "}";
}

}  // namespace

bool PbxMessage::Parse(const std::string& message)
{
    *this = PbxMessage();
    text = message;
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back(0);
    auto doc = std::make_unique<json_io>(buffer.data());
    if (!doc->decode() || !doc->items_used() || doc->get_item(0)->type != json_io::OBJECT) return false;
    unsigned short last = 0;
    unsigned char itemType, flags;
    const char *name, *value;
    while (doc->get_next(0, last, itemType, flags, name, value) != json_io::NONE)
        if (name && itemType == json_io::VALUE)
            members[name] = Text(value);
    mt = Text(doc->get_string(0, "mt"));
    api = Text(doc->get_string(0, "api"));
    call = doc->get_long64(0, "call", &hasCall);
    unsigned short sig = doc->get_object(0, "sig");
    if (sig == json_io::NONE) return true;
    type = Text(doc->get_string(sig, "type"));
    cg = Sip(*doc, sig, "cg");
    cd = Sip(*doc, sig, "cd");
    ReadFacilities(*doc, sig, fty);
    return true;
}

const Facility* PbxMessage::Fty(const std::string& entryType) const
{
    for (auto& f : fty) {
        auto t = f.find("type");
        if (t != f.end() && t->second == entryType) return &f;
    }
    return nullptr;
}

std::string PbxMessage::FtyMember(const std::string& entryType, const std::string& name) const
{
    const Facility* f = Fty(entryType);
    if (!f) return "";
    auto m = f->find(name);
    return m == f->end() ? std::string() : m->second;
}

long long PbxMessage::Badge() const
{
    if (type != "facility" || !Fty("presence_notify")) return -1;
    std::string note = FtyMember("presence_notify", "note");
    static const std::string prefix = "#badge:";
    if (note.compare(0, prefix.size(), prefix)) return 0;
    return atoll(note.c_str() + prefix.size());
}

std::string SetupSig(const Setup& s)
{
    std::string fty;
    auto add = [&fty](const std::string& entry) { fty += (fty.empty() ? "" : ",") + entry; };
    if (s.im) add(Entry("im_setup"));
    if (s.subscribe) add(Entry("presence_subscribe"));
    for (auto& app : s.apps) add(Entry("app", Member("sip", app.first) + Member("dn", app.second)));
    for (auto& g : s.groups) add(Entry("monitor_group", Member("group", g)));
    if (!s.name.empty()) add(Entry("name_identification", Member("name", s.name)));
    return "{\"type\":\"setup\",\"cg\":{\"sip\":" + wsp::JsonString(s.cg) + "},\"cd\":{\"sip\":" +
           wsp::JsonString(s.cd) + "},\"fty\":[" + fty + "]}";
}

std::string TextSig(const ImText& t)
{
    std::string members;
    const std::pair<const char*, const std::string*> all[] = {
        {"data", &t.data}, {"sender", &t.sender}, {"sender_dn", &t.senderDn}, {"mime", &t.mime}, {"attach", &t.attach}};
    for (auto& m : all)
        if (!m.second->empty()) members += Member(m.first, *m.second);
    return "{\"type\":\"facility\",\"fty\":[" + Entry("im_message", members) + "]}";
}

std::string TypeSig(const std::string& type)
{
    return Entry(type);
}

std::string SignalingMessage(long long call, const std::string& sig)
{
    return "{\"mt\":\"Signaling\",\"api\":\"PbxSignal\",\"call\":" + std::to_string(call) + ",\"sig\":" + sig + "}";
}

}  // namespace pbx
