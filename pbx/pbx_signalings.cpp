#include "pbx/pbx_signalings.h"

#include "pbx/group_chat.h"
#include "pbx/pbx_signaling.h"

void MessagesPbxSignalings::createPbxSignaling(AppUpdatesSession* session)
{
    // It belongs to the session from now on and goes when it closes.
    new MessagesPbxSignaling(common, session, this);
}

void MessagesPbxSignalings::memberDeleted(const char* group, const char* member)
{
    if (MessagesGroupChat* chat = FindGroupChat(group)) chat->MemberDelete(member);
}

MessagesGroupChat* MessagesPbxSignalings::FindGroupChat(const char* sip) const
{
    if (!sip) return nullptr;
    return static_cast<MessagesGroupChat*>(btree::btree_find(groupChats, const_cast<char*>(sip)));
}

void MessagesPbxSignalings::AddGroupChat(MessagesGroupChat* chat)
{
    groupChats = btree::btree_put(groupChats, chat);
}

void MessagesPbxSignalings::RemoveGroupChat(MessagesGroupChat* chat)
{
    groupChats = btree::btree_get(groupChats, chat);
}
