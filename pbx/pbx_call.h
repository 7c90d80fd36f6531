#pragma once

#include "runtime/btree.h"

class json_io;
class MessagesPbxSignaling;
class PbxSignalingMessage;

// A call between the PBX and the instance on one link, in the link's call
// table (keyed by its identifier) for as long as its state is not RELEASED.
// Calls that the PBX presents have identifiers below 1, those that the
// instance presents 1 to 999999.
class MessagesCall : public btree {
public:
    enum State : unsigned char {
        RELEASED = 0,
        SETUP_SENT = 1,
        PROCEEDING = 3,
        ALERTING = 4,
        CHECKING = 6,
        CONNECTED = 10,
    };

    // Enters the call table in the given state, which is not RELEASED.
    MessagesCall(MessagesPbxSignaling* link, int call, State state);
    MessagesCall(const MessagesCall&) = delete;
    MessagesCall& operator=(const MessagesCall&) = delete;
    // Leaves the call table if still there; sends nothing.
    ~MessagesCall() override;

    // Keyed by identifier (key: int*).
    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    // A "Signaling" of the PBX for this call; sig is its "sig" object, msg and
    // its strings live for this call only. The callee may delete the call.
    virtual void Signaling(json_io& msg, unsigned short sig, const char* src, const char* type) = 0;

    // "conn": state CONNECTED.
    void SendConn();
    // "rel", and out of the call table.
    void SendRel();
    // Out of the call table without a word to the PBX.
    void ToState0();

    int Call() const { return call; }
    State CallState() const { return state; }
    MessagesPbxSignaling* Link() const { return link; }

protected:
    void SetState(State next) { state = next; }
    // Sent at once on the PBX's connection.
    void Send(PbxSignalingMessage& message);

    MessagesPbxSignaling* link;

private:
    int call;
    State state;
};
