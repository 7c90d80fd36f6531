#pragma once

#include "pbx/pbx_call.h"
#include "runtime/istd_list.h"
#include "runtime/task.h"

class MessagesGroupChat;
class TaskCheckMember;

// One text of a group chat: the strings of an "im_message", each an owned
// copy or null.
class MessagesChatMessage : public istd::listElement {
public:
    MessagesChatMessage(const char* data, const char* sender, const char* senderDn, const char* mime,
                        const char* attach);
    MessagesChatMessage(const MessagesChatMessage&) = delete;
    MessagesChatMessage& operator=(const MessagesChatMessage&) = delete;
    ~MessagesChatMessage() override;

    char* data;
    char* sender;
    char* senderDn;
    char* mime;
    char* attach;
};

// A member's instant-messaging call in a group chat. Presented by the PBX
// (identifier below 1), it is connected once the database confirms the
// membership; presented by the instance, it begins with "setup". Texts it
// carries are relayed to the other members' calls.
class MessagesChatCall : public MessagesCall, public istd::listElement, public UTask {
public:
    // The group chat may be unknown yet (null); then groupName names it.
    MessagesChatCall(MessagesPbxSignaling* link, MessagesGroupChat* groupChat, int call, const char* member,
                     const char* groupName);
    // Sends "rel" unless released, or else notes the member as inactive in
    // its group chat; leaves the group chat.
    ~MessagesChatCall() override;

    void Signaling(json_io& msg, unsigned short sig, const char* src, const char* type) override;
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;

    void SendSetup();
    void SendMessage(const MessagesChatMessage& text);
    // Sent once the call answers or is connected; owned from now on.
    void Queue(MessagesChatMessage* text);
    // "conn", and the texts that waited for it.
    void Connect();
    void AddToChat(MessagesGroupChat* chat);

    const char* Member() const { return member; }
    MessagesGroupChat* GroupChat() const { return groupChat; }
    // Until the database has confirmed the caller's membership the call
    // takes part in nothing: texts for it wait in its queue.
    bool Confirmed() const { return confirmed; }
    bool Checking() const { return check != nullptr; }

private:
    void Text(json_io& msg, unsigned short sig);
    void SendQueued();
    // Ends the call with "rel" (the caller returns at once).
    void Refuse();

    MessagesGroupChat* groupChat = nullptr;
    char* groupName = nullptr;
    char* member;
    istd::list queue;
    TaskCheckMember* check = nullptr;
    // Calls the instance places go to members it read from the database.
    bool confirmed;
};
