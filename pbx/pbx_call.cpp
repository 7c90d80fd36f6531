#include "pbx/pbx_call.h"

#include "pbx/pbx_message.h"
#include "pbx/pbx_signaling.h"
#include "runtime/assert.h"

namespace {

// Identifiers come from the PBX and may lie anywhere in 32 bits: a
// difference could overflow.
int Compare(int a, int b)
{
    return a < b ? -1 : a > b;
}

}  // namespace

MessagesCall::MessagesCall(MessagesPbxSignaling* link, int call, State state) : link(link), call(call), state(state)
{
    ASSERT(state != RELEASED, "MessagesCall created released");
    link->EnterCall(this);
}

MessagesCall::~MessagesCall()
{
    ToState0();
}

int MessagesCall::btree_compare(void* key)
{
    return Compare(*static_cast<int*>(key), call);
}

int MessagesCall::btree_compare(btree* other)
{
    return Compare(static_cast<MessagesCall*>(other)->call, call);
}

void MessagesCall::SendConn()
{
    PbxSignalingMessage conn(call, "conn");
    Send(conn);
    state = CONNECTED;
}

void MessagesCall::SendRel()
{
    PbxSignalingMessage rel(call, "rel");
    Send(rel);
    ToState0();
}

void MessagesCall::ToState0()
{
    if (state == RELEASED) return;
    state = RELEASED;
    link->LeaveCall(this);
}

void MessagesCall::Send(PbxSignalingMessage& message)
{
    link->Send(message.Json(), message.Buffer());
}
