#include "pbx/pbx_signaling.h"

#include <string.h>

#include <string>

#include "json/json_io.h"
#include "messages/messages_user.h"
#include "pbx/chat_call.h"
#include "pbx/group_chat.h"
#include "pbx/pbx_call.h"
#include "pbx/pbx_signalings.h"
#include "pbx/presence_monitor.h"
#include "web/app_updates_session.h"

namespace {

// Instance identifiers stay below this and wrap to 1.
constexpr int CALL_LIMIT = 1000000;

// The "sip" of the object member `name` of base, or null.
const char* SipOf(json_io& msg, unsigned short base, const char* name)
{
    unsigned short party = msg.get_object(base, name);
    return party == json_io::NONE ? nullptr : msg.get_string(party, "sip");
}

}  // namespace

MessagesPbxSignaling::MessagesPbxSignaling(MessagesCommon* common, AppUpdatesSession* session,
                                           MessagesPbxSignalings* registry)
    : common(common), session(session), registry(registry)
{
    char buffer[128];
    json_io msg(buffer);
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "mt", "Register");
    msg.add_string(base, "api", "PbxSignal");
    msg.add_string(base, "flags", "NO_MEDIA_CALL");
    Send(msg, buffer);
    session->RegisterJsonApi(this);
}

MessagesPbxSignaling::~MessagesPbxSignaling()
{
    // A chat call that is still up says "rel" on its way out.
    while (calls) delete static_cast<MessagesCall*>(calls);
    while (!groupChats.empty()) delete static_cast<MessagesGroupChat*>(groupChats.front());
    session->UnRegisterJsonApi(this);
}

void MessagesPbxSignaling::JsonApiConnectionClosed()
{
    delete this;
}

void MessagesPbxSignaling::Message(json_io& msg, unsigned short base, const char* mt, const char* src)
{
    // The strings of msg stay ours until we return.
    session->JsonApiMessageComplete();
    if (strcmp(mt, "Signaling")) return;
    bool present = false;
    // Identifiers are 32-bit: a wider number must not wrap onto a call in use.
    long long wide = msg.get_long64(base, "call", &present);
    int call = (int)wide;
    unsigned short sig = msg.get_object(base, "sig");
    if (!present || !call || call != wide || sig == json_io::NONE) return;
    const char* type = msg.get_string(sig, "type");
    if (!type) return;
    if (MessagesCall* known = FindCall(call)) return known->Signaling(msg, sig, src, type);
    if (!strcmp(type, "setup")) Setup(msg, sig, call, src);
}

void MessagesPbxSignaling::Setup(json_io& msg, unsigned short sig, int call, const char* src)
{
    const char* calling = SipOf(msg, sig, "cg");
    const char* calledSip = SipOf(msg, sig, "cd");
    // Calls that the instance presents are numbered from 1 on; the PBX's own
    // must stay clear of them.
    if (!calling || !calledSip || call > 0) return;
    MessagesUser user(calling);
    bool chat = false, presence = false;
    unsigned short fty = msg.get_array(sig, "fty");
    if (fty != json_io::NONE) {
        for (unsigned short e = msg.get_first(json_io::OBJECT, fty); e != json_io::NONE;
             e = msg.get_next(json_io::OBJECT, fty, e)) {
            const char* kind = msg.get_string(e, "type");
            if (!kind) continue;
            if (!strcmp(kind, "im_setup")) chat = true;
            else if (!strcmp(kind, "presence_subscribe")) presence = true;
            else if (!strcmp(kind, "monitor_group")) user.AddGroup(msg.get_string(e, "group"));
            else if (!strcmp(kind, "app")) {
                // AddTopic cuts the name in place: it gets a copy.
                const char* topic = msg.get_string(e, "sip");
                std::string name(topic ? topic : "");
                if (topic) user.AddTopic(&name[0], msg.get_string(e, "dn"), 0, false);
            }
            else if (!strcmp(kind, "name_identification")) user.SetDn(msg.get_string(e, "name"));
        }
    }
    if (chat) {
        auto* chatCall = new MessagesChatCall(this, registry->FindGroupChat(calledSip), call, calling, calledSip);
        // The setup that created it is its first message; it may end the call.
        return chatCall->Signaling(msg, sig, src, "setup");
    }
    if (!presence) return;
    // The subscribed object is named by its bare name: no domain, no suffix.
    std::string called(calledSip);
    called.resize(strcspn(called.c_str(), "@"));
    called.resize(strcspn(called.c_str(), "~"));
    if (user.FirstTopic()) user.AddTopic(&called[0], nullptr, 0, false);
    new MessagesPresenceMonitor(this, call, &user, called.c_str());
}

int MessagesPbxSignaling::nextCall()
{
    // At most CALL_LIMIT - 1 calls can be in the table, and the PBX's own
    // identifiers are below 1, so a free one is always found.
    do {
        if (++lastCall >= CALL_LIMIT) lastCall = 1;
    } while (FindCall(lastCall));
    return lastCall;
}

void MessagesPbxSignaling::EnterCall(MessagesCall* call)
{
    calls = btree::btree_put(calls, call);
}

void MessagesPbxSignaling::LeaveCall(MessagesCall* call)
{
    calls = btree::btree_get(calls, call);
}

MessagesCall* MessagesPbxSignaling::FindCall(int call) const
{
    return static_cast<MessagesCall*>(btree::btree_find(calls, &call));
}

void MessagesPbxSignaling::Send(json_io& msg, char* buffer)
{
    session->JsonApiMessage(msg, buffer);
}

void MessagesPbxSignaling::SendUpdate(json_io& msg, char* buffer)
{
    session->SendUpdate(msg, buffer);
}
