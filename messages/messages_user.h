#pragma once

#include "runtime/btree.h"

// A topic that the user may see and post to; keyed by SIP name without
// regard to ASCII letter case, as the database compares names.
class MessagesTopic : public btree {
public:
    MessagesTopic(const char* sip, const char* dn, unsigned long long id, bool admin);
    MessagesTopic(const MessagesTopic&) = delete;
    MessagesTopic& operator=(const MessagesTopic&) = delete;
    ~MessagesTopic() override;
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    char* sip;
    char* dn;
    unsigned long long id;
    bool admin;
};

// A group that the user belongs to; keyed byte-wise by name.
class MessagesGroup : public btree {
public:
    explicit MessagesGroup(const char* name);
    MessagesGroup(const MessagesGroup&) = delete;
    MessagesGroup& operator=(const MessagesGroup&) = delete;
    ~MessagesGroup() override;
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    char* name;
};

// The identity of a logged-in user with the topics and groups it may use.
// Filled at login and user initialisation and not changed afterwards.
class MessagesUser {
public:
    explicit MessagesUser(const char* sip);
    // Takes over the other's names and trees and leaves it empty; the id
    // is not taken, because the new user is looked up again.
    explicit MessagesUser(MessagesUser* other);
    MessagesUser(const MessagesUser&) = delete;
    MessagesUser& operator=(const MessagesUser&) = delete;
    ~MessagesUser();

    void SetSip(const char* sip);
    void SetDn(const char* dn);
    // A null name and a name already present are ignored.
    void AddGroup(const char* name);
    // Cuts sip at its first "~" in place. An existing topic of that name
    // keeps its entry; a null sip is ignored.
    void AddTopic(char* sip, const char* dn, unsigned long long id, bool admin);

    MessagesTopic* FindTopic(const char* sip) const;
    // Takes the topic out of the tree and deletes it.
    void RemoveTopic(MessagesTopic* topic);
    MessagesGroup* FindGroup(const char* name) const;
    // Walk in ascending order of names; null after the last.
    MessagesTopic* FirstTopic() const;
    MessagesTopic* NextTopic(const MessagesTopic* after) const;

    char* sip;
    char* dn = nullptr;
    unsigned long long id = 0;
    btree* topics = nullptr;
    btree* groups = nullptr;
};
