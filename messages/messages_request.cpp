#include "messages/messages_request.h"

#include "messages/messages.h"
#include "messages/messages_session.h"

MessagesRequest::MessagesRequest(MessagesSession* session) : session(session) {}

void MessagesRequest::ResponseSent()
{
    if (replied && !session->ResponsesInFlight()) End();
}

void MessagesRequest::SessionClosed()
{
    if (!working) End();
}

void MessagesRequest::Send(json_io& msg, bool final)
{
    if (final) replied = true;
    session->SendResponse(msg);
}

void MessagesRequest::End()
{
    session->EndRequest(this);
}

bool MessagesRequest::WorkEnded()
{
    working = false;
    if (!session->Closed()) return false;
    End();
    return true;
}

IDatabase* MessagesRequest::Database() const
{
    return session->instance->database;
}

void MessagesRequest::FailLater()
{
    working = true;
    session->instance->GetIoMux()->SetExec(this, nullptr);
}
