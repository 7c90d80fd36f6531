#pragma once

#include "runtime/btree.h"
#include "runtime/istd_list.h"
#include "web/json_api.h"

class AppUpdatesSession;
class MessagesCall;
class MessagesCommon;
class MessagesPbxSignalings;

// The "PbxSignal" API on one PBX connection: the call table of the calls
// that the PBX and the instance present to each other, and the group chats
// begun on it. Lives from "PbxInfo" until the connection closes, and then
// takes its calls and group chats with it.
class MessagesPbxSignaling : public JsonApi {
public:
    // Sends "Register" and registers with the session.
    MessagesPbxSignaling(MessagesCommon* common, AppUpdatesSession* session, MessagesPbxSignalings* registry);
    MessagesPbxSignaling(const MessagesPbxSignaling&) = delete;
    MessagesPbxSignaling& operator=(const MessagesPbxSignaling&) = delete;
    ~MessagesPbxSignaling() override;

    const char* Name() override { return "PbxSignal"; }
    void Message(json_io& msg, unsigned short base, const char* mt, const char* src) override;
    // Deletes the link.
    void JsonApiConnectionClosed() override;

    // An identifier for a call that the instance presents: the one after the
    // last, from 1 to 999999 and round again, never one in use.
    int nextCall();
    void EnterCall(MessagesCall* call);
    void LeaveCall(MessagesCall* call);
    MessagesCall* FindCall(int call) const;
    bool HasCalls() const { return calls != nullptr; }

    // At once, on the PBX's connection.
    void Send(json_io& msg, char* buffer);
    // Through the session's update queue, which holds them while the PBX reads slowly.
    void SendUpdate(json_io& msg, char* buffer);

    MessagesCommon* Common() const { return common; }
    MessagesPbxSignalings* Registry() const { return registry; }
    AppUpdatesSession* Session() const { return session; }
    // The group chats begun on this link, MessagesGroupChat entries.
    istd::list& GroupChats() { return groupChats; }

private:
    // A setup for a call the table does not know: a chat call to a group or
    // a presence subscription; anything else is dropped.
    void Setup(json_io& msg, unsigned short sig, int call, const char* src);

    MessagesCommon* common;
    AppUpdatesSession* session;
    MessagesPbxSignalings* registry;
    btree* calls = nullptr;
    istd::list groupChats;
    int lastCall = 0;
};
