#pragma once

#include "runtime/btree.h"
#include "runtime/istd_list.h"
#include "runtime/task.h"

class MessagesChatCall;
class MessagesChatMessage;
class MessagesPbxSignaling;
class TaskReadMembers;

// A member whose call the PBX released: the next text calls it again.
class MessagesChatInactive : public istd::listElement {
public:
    explicit MessagesChatInactive(const char* member);
    MessagesChatInactive(const MessagesChatInactive&) = delete;
    MessagesChatInactive& operator=(const MessagesChatInactive&) = delete;
    ~MessagesChatInactive() override;

    char* member;
};

// The members of one group talking through the PBX: their calls, the calls
// the instance placed to the others, and the members to call again. It
// exists while its member query runs or one of its calls is beyond setup.
// Nothing of it is stored.
class MessagesGroupChat : public btree, public istd::listElement, public UTask {
public:
    // Enters the registry and the link, and calls every member the database
    // lists (the member query).
    MessagesGroupChat(MessagesPbxSignaling* link, const char* sip);
    MessagesGroupChat(const MessagesGroupChat&) = delete;
    MessagesGroupChat& operator=(const MessagesGroupChat&) = delete;
    // Deletes the calls (those still up get "rel") and leaves registry and link.
    ~MessagesGroupChat() override;

    // By SIP name, as the database compares names: without regard to ASCII case.
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    // Inserted before the member's other calls, or at the end.
    void AddCall(MessagesChatCall* call);
    void AddInactive(const char* member);
    // A text of one call to the calls of all other members; members without
    // a call are called, with the text waiting for their answer.
    void Relay(MessagesChatCall* from, const MessagesChatMessage& text);
    // The member's calls end and it is no longer called.
    void MemberDelete(const char* member);
    // Once no call is beyond setup, the chat ends. May delete the group chat.
    void CheckDelete();

    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void TaskProgress(ITask* task, unsigned progress) override;

    const char* Sip() const { return sip; }
    const char* Dn() const { return dn; }
    MessagesPbxSignaling* Link() const { return link; }
    MessagesChatCall* FirstCall() const;
    MessagesChatCall* NextCall(MessagesChatCall* call) const;

private:
    MessagesChatCall* FindMember(const char* member) const;
    bool Active() const;
    void DeleteCalls();

    TaskReadMembers* query = nullptr;
    char* sip;
    char* dn = nullptr;
    MessagesPbxSignaling* link;
    istd::list calls;
    istd::list inactive;
};
