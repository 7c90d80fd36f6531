#pragma once

#include "pbx/messages_pbx_signalings.h"
#include "runtime/btree.h"

class MessagesCommon;
class MessagesGroupChat;

// The instance's PBX links and the tree of their group chats by SIP name,
// through which a second call to a group finds the chat the first began.
class MessagesPbxSignalings : public IMessagesPbxSignalings {
public:
    explicit MessagesPbxSignalings(MessagesCommon* common) : common(common) {}
    // The links (and with them the group chats) have gone with their sessions.
    ~MessagesPbxSignalings() override {}

    void createPbxSignaling(AppUpdatesSession* session) override;
    void memberDeleted(const char* group, const char* member) override;

    MessagesGroupChat* FindGroupChat(const char* sip) const;
    void AddGroupChat(MessagesGroupChat* chat);
    void RemoveGroupChat(MessagesGroupChat* chat);

private:
    MessagesCommon* common;
    btree* groupChats = nullptr;
};
