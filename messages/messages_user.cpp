#include "messages/messages_user.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "messages/message_strings.h"

namespace {

char* Copy(const char* s)
{
    return s ? strdup(s) : nullptr;
}

void DeleteTree(btree*& root)
{
    while (btree* n = root) {
        root = btree::btree_get(root, n);
        delete n;
    }
}

}  // namespace

MessagesTopic::MessagesTopic(const char* sip, const char* dn, unsigned long long id, bool admin)
    : sip(strdup(sip)), dn(Copy(dn)), id(id), admin(admin)
{
}

MessagesTopic::~MessagesTopic()
{
    free(sip);
    free(dn);
}

int MessagesTopic::btree_compare(void* key)
{
    return strcasecmp(static_cast<const char*>(key), sip);
}

int MessagesTopic::btree_compare(btree* other)
{
    return strcasecmp(static_cast<MessagesTopic*>(other)->sip, sip);
}

MessagesGroup::MessagesGroup(const char* name) : name(strdup(name)) {}

MessagesGroup::~MessagesGroup()
{
    free(name);
}

int MessagesGroup::btree_compare(void* key)
{
    return strcmp(static_cast<const char*>(key), name);
}

int MessagesGroup::btree_compare(btree* other)
{
    return strcmp(static_cast<MessagesGroup*>(other)->name, name);
}

MessagesUser::MessagesUser(const char* sip) : sip(Copy(sip)) {}

MessagesUser::MessagesUser(MessagesUser* other)
    : sip(other->sip), dn(other->dn), topics(other->topics), groups(other->groups)
{
    other->sip = nullptr;
    other->dn = nullptr;
    other->topics = nullptr;
    other->groups = nullptr;
}

MessagesUser::~MessagesUser()
{
    free(sip);
    free(dn);
    DeleteTree(topics);
    DeleteTree(groups);
}

void MessagesUser::SetSip(const char* value)
{
    ReplaceString(sip, value);
}

void MessagesUser::SetDn(const char* value)
{
    ReplaceString(dn, value);
}

void MessagesUser::AddGroup(const char* name)
{
    if (!name || FindGroup(name)) return;
    groups = btree::btree_put(groups, new MessagesGroup(name));
}

void MessagesUser::AddTopic(char* topic, const char* topicDn, unsigned long long topicId, bool admin)
{
    if (!topic) return;
    if (char* tilde = strchr(topic, '~')) *tilde = 0;
    if (FindTopic(topic)) return;
    topics = btree::btree_put(topics, new MessagesTopic(topic, topicDn, topicId, admin));
}

MessagesTopic* MessagesUser::FindTopic(const char* name) const
{
    return name ? static_cast<MessagesTopic*>(btree::btree_find(topics, const_cast<char*>(name))) : nullptr;
}

void MessagesUser::RemoveTopic(MessagesTopic* topic)
{
    topics = btree::btree_get(topics, topic);
    delete topic;
}

MessagesGroup* MessagesUser::FindGroup(const char* name) const
{
    return name ? static_cast<MessagesGroup*>(btree::btree_find(groups, const_cast<char*>(name))) : nullptr;
}

MessagesTopic* MessagesUser::FirstTopic() const
{
    return static_cast<MessagesTopic*>(btree::btree_find_right(topics, nullptr));
}

MessagesTopic* MessagesUser::NextTopic(const MessagesTopic* after) const
{
    return static_cast<MessagesTopic*>(btree::btree_find_next_right(topics, after->sip));
}
