#include "pbx/chat_call.h"

#include <stdlib.h>
#include <string.h>

#include "json/json_io.h"
#include "messages/messages_common.h"
#include "messages/tasks/task_check_member.h"
#include "pbx/group_chat.h"
#include "pbx/pbx_message.h"
#include "pbx/pbx_signaling.h"
#include "pbx/pbx_signalings.h"

namespace {

char* Copy(const char* s)
{
    return s ? strdup(s) : nullptr;
}

size_t Length(const char* s)
{
    return s ? strlen(s) : 0;
}

void AddIf(json_io& msg, unsigned short base, const char* name, const char* value)
{
    if (value) msg.add_string(base, name, value);
}

}  // namespace

MessagesChatMessage::MessagesChatMessage(const char* data, const char* sender, const char* senderDn,
                                         const char* mime, const char* attach)
    : data(Copy(data)), sender(Copy(sender)), senderDn(Copy(senderDn)), mime(Copy(mime)), attach(Copy(attach))
{
}

MessagesChatMessage::~MessagesChatMessage()
{
    free(data);
    free(sender);
    free(senderDn);
    free(mime);
    free(attach);
}

MessagesChatCall::MessagesChatCall(MessagesPbxSignaling* link, MessagesGroupChat* groupChat, int call,
                                   const char* member, const char* groupName)
    : MessagesCall(link, call, call < 1 ? CHECKING : SETUP_SENT), member(strdup(member)), confirmed(call >= 1)
{
    if (groupChat) AddToChat(groupChat);
    else this->groupName = Copy(groupName);
    if (call >= 1) {
        SendSetup();
        return;
    }
    IDatabase* database = link->Common()->UsableDatabase();
    // Without a database nobody's membership can be confirmed: the setup,
    // which the link hands over next, refuses the caller.
    if (!database) return;
    check = new TaskCheckMember(database, groupChat ? groupChat->Sip() : groupName, member);
    check->Start(this);
}

MessagesChatCall::~MessagesChatCall()
{
    // The check copied its names and touches nothing of ours once stopped.
    if (check) check->Abandon();
    if (CallState() != RELEASED) SendRel();
    else if (groupChat) {
        auto* before = static_cast<MessagesChatCall*>(goPrevious());
        auto* after = static_cast<MessagesChatCall*>(goNext());
        bool others = (before && !strcasecmp(before->member, member)) || (after && !strcasecmp(after->member, member));
        if (!others) groupChat->AddInactive(member);
    }
    while (!queue.empty()) delete static_cast<MessagesChatMessage*>(queue.front());
    free(groupName);
    free(member);
}

void MessagesChatCall::AddToChat(MessagesGroupChat* chat)
{
    if (groupChat) return;
    groupChat = chat;
    groupChat->AddCall(this);
}

void MessagesChatCall::SendSetup()
{
    const char* dn = groupChat->Dn();
    PbxSignalingMessage setup(Call(), "setup", Length(groupChat->Sip()) + Length(member) + Length(dn));
    json_io& msg = setup.Json();
    msg.add_string(msg.add_object(setup.Sig(), "cg"), "sip", groupChat->Sip());
    msg.add_string(msg.add_object(setup.Sig(), "cd"), "sip", member);
    unsigned short fty = msg.add_array(setup.Sig(), "fty");
    msg.add_string(msg.add_object(fty, nullptr), "type", "im_setup");
    if (dn) {
        unsigned short name = msg.add_object(fty, nullptr);
        msg.add_string(name, "type", "name_identification");
        msg.add_string(name, "name", dn);
    }
    Send(setup);
    SetState(SETUP_SENT);
}

void MessagesChatCall::SendMessage(const MessagesChatMessage& text)
{
    PbxSignalingMessage facility(Call(), "facility",
                                 Length(text.data) + Length(text.sender) + Length(text.senderDn) +
                                     Length(text.mime) + Length(text.attach));
    unsigned short im = facility.AddFacility("im_message");
    json_io& msg = facility.Json();
    AddIf(msg, im, "data", text.data);
    AddIf(msg, im, "sender", text.sender);
    AddIf(msg, im, "sender_dn", text.senderDn);
    AddIf(msg, im, "mime", text.mime);
    AddIf(msg, im, "attach", text.attach);
    Send(facility);
}

void MessagesChatCall::Queue(MessagesChatMessage* text)
{
    queue.push_back(text);
}

void MessagesChatCall::Connect()
{
    if (CallState() != CONNECTED) SendConn();
    SendQueued();
}

void MessagesChatCall::SendQueued()
{
    while (!queue.empty()) {
        auto* text = static_cast<MessagesChatMessage*>(queue.front());
        SendMessage(*text);
        delete text;
    }
}

void MessagesChatCall::Signaling(json_io& msg, unsigned short sig, const char*, const char* type)
{
    if (!strcmp(type, "rel")) {
        MessagesGroupChat* chat = groupChat;
        ToState0();
        delete this;
        if (chat) chat->CheckDelete();
        return;
    }
    if (!confirmed) {
        // Without a database no check began, and none will confirm the caller.
        if (!check) Refuse();
        return;
    }
    // A confirmed caller waits for its "conn" from the member query.
    if (CallState() == CHECKING) return;
    if (!strcmp(type, "facility")) return Text(msg, sig);
    State reached = !strcmp(type, "call-proc") ? PROCEEDING
                    : !strcmp(type, "alert")   ? ALERTING
                    : !strcmp(type, "conn")    ? CONNECTED
                                               : RELEASED;
    if (reached > CallState()) SetState(reached);
    SendQueued();
}

void MessagesChatCall::Text(json_io& msg, unsigned short sig)
{
    unsigned short fty = msg.get_array(sig, "fty");
    if (fty == json_io::NONE || !groupChat) return;
    for (unsigned short e = msg.get_first(json_io::OBJECT, fty); e != json_io::NONE;
         e = msg.get_next(json_io::OBJECT, fty, e)) {
        const char* kind = msg.get_string(e, "type");
        if (!kind || strcmp(kind, "im_message")) continue;
        const char* data = msg.get_string(e, "data");
        if (!data) return;
        MessagesChatMessage text(data, msg.get_string(e, "sender"), msg.get_string(e, "sender_dn"),
                                 msg.get_string(e, "mime"), msg.get_string(e, "attach"));
        return groupChat->Relay(this, text);
    }
}

void MessagesChatCall::TaskComplete(ITask*)
{
    bool found = false, admin = false;
    check->Get(found, admin);
    delete check;
    check = nullptr;
    if (!found) return Refuse();
    confirmed = true;
    bool created = false;
    if (!groupChat) {
        MessagesGroupChat* chat = link->Registry()->FindGroupChat(groupName);
        created = !chat;
        if (created) chat = new MessagesGroupChat(link, groupName);
        AddToChat(chat);
        free(groupName);
        groupName = nullptr;
    }
    // A new group chat connects its caller when its member query reaches it.
    if (!created) Connect();
}

void MessagesChatCall::TaskFailed(ITask*)
{
    delete check;
    check = nullptr;
    Refuse();
}

void MessagesChatCall::Refuse()
{
    MessagesGroupChat* chat = groupChat;
    // Last use of this: the destructor says "rel".
    delete this;
    if (chat) chat->CheckDelete();
}
