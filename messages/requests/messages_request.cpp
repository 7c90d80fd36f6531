#include "messages/requests/messages_request.h"

#include "messages/requests/request_context.h"
#include "runtime/assert.h"

MessagesRequest::MessagesRequest(MessagesRequestContext* context) : context(context) {}

MessagesRequest::~MessagesRequest()
{
    ASSERT(state == ENDING || state == NEW, "MessagesRequest deleted while it runs");
}

void MessagesRequest::SetState(State next)
{
    switch (next) {
    case WORKING: ASSERT(state == NEW || state == WORKING, "MessagesRequest works after its reply"); break;
    case SENDING: ASSERT(state == NEW, "MessagesRequest sends rows twice"); break;
    case REPLIED: ASSERT(state == NEW || state == WORKING || state == SENDING, "MessagesRequest replied twice"); break;
    case ENDING: ASSERT(state != ENDING, "MessagesRequest ended twice"); break;
    default: FATAL("MessagesRequest: impossible state");
    }
    state = next;
}

void MessagesRequest::Working()
{
    SetState(WORKING);
}

void MessagesRequest::Sending()
{
    SetState(SENDING);
}

bool MessagesRequest::WorkEnded()
{
    if (!context->RequestSessionClosed()) return false;
    Finish();
    return true;
}

void MessagesRequest::SendRow(json_io& msg)
{
    ASSERT(state == WORKING || state == SENDING, "MessagesRequest row outside its work");
    context->RequestSend(msg);
}

void MessagesRequest::Reply(json_io& msg)
{
    SetState(REPLIED);
    context->RequestSend(msg);
}

void MessagesRequest::ResponseSent()
{
    if (state == SENDING) return RowSent();
    // Rows sent before the reply may still be on their way.
    if (state == REPLIED && !context->RequestResponsesInFlight()) Finish();
}

void MessagesRequest::SessionClosed()
{
    // A working request ends when its work does; a sending one waits for
    // send results that will not come.
    if (state == NEW || state == SENDING) End();
    else if (state == REPLIED) Finish();
}

void MessagesRequest::Finish()
{
    AfterReply();
    End();
}

void MessagesRequest::End()
{
    SetState(ENDING);
    context->RequestIoMux()->SetExec(this, nullptr);
}

void MessagesRequest::IoExec(void*)
{
    context->RequestEnded(this);
}

IDatabase* MessagesRequest::Database() const
{
    return context->RequestDatabase();
}

const char* MessagesRequest::Src() const
{
    return context->RequestSrc();
}
