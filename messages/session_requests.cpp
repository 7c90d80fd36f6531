#include "messages/session_requests.h"

#include <stdlib.h>
#include <string.h>

#include "json/json_io.h"
#include "messages/messages.h"
#include "messages/messages_session.h"
#include "messages/task_database_init.h"
#include "messages/task_database_reset.h"

InitSession::InitSession(MessagesSession* session)
    : TaskUserInit(session->instance->database, session), MessagesRequest(session)
{
}

void InitSession::Begin()
{
    if (!Database()) return FailLater();
    working = true;
    Start(this);
}

void InitSession::TaskComplete(ITask*)
{
    if (!WorkEnded()) End();
}

void InitSession::TaskFailed(ITask*)
{
    // The session goes on with the topics it has.
    if (!WorkEnded()) End();
}

Session::Session(MessagesSession* session, unsigned number, const char* user, const char* dn)
    : TaskSession(session->instance->database, user, dn), MessagesRequest(session), number(number),
      userName(strdup(user ? user : "")), storeDn(dn != nullptr)
{
}

Session::~Session()
{
    free(userName);
}

void Session::Begin()
{
    if (!storeDn) return Reply();
    if (!Database()) return FailLater();
    working = true;
    Start(this);
}

void Session::TaskComplete(ITask*)
{
    if (!WorkEnded()) Reply();
}

void Session::TaskFailed(ITask*)
{
    // The user session is recorded also without the display name.
    if (!WorkEnded()) Reply();
}

void Session::Reply()
{
    session->RemoveUserSession(number);
    char numbers[16];
    char* tmp = numbers;
    json_io msg(nullptr);
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "src", session->Src());
    msg.add_string(base, "mt", "SessionResult");
    msg.add_unsigned(base, "session", number, tmp);
    Send(msg);
    session->PutUserSession(new MessagesUserSession(number, userName, MessagesRandomKey()));
}

ReadTopics::ReadTopics(MessagesSession* session) : MessagesRequest(session) {}

void ReadTopics::Begin()
{
    next = session->FirstTopic();
    SendNext();
}

void ReadTopics::ResponseSent()
{
    if (replied) return MessagesRequest::ResponseSent();
    SendNext();
}

void ReadTopics::SendNext()
{
    char numbers[24];
    char* tmp = numbers;
    json_io msg(nullptr);
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "src", session->Src());
    if (!next) {
        msg.add_string(base, "mt", "ReadTopicsResult");
        Send(msg);
        return;
    }
    MessagesTopic* topic = next;
    // Topics do not change while a request of the session runs.
    next = session->NextTopic(topic);
    msg.add_string(base, "mt", "Topic");
    msg.add_string(base, "sip", topic->sip);
    msg.add_string(base, "dn", topic->dn);
    msg.add_ulong64(base, "id", topic->id, tmp);
    if (topic->admin) msg.add_bool(base, "admin", true);
    Send(msg, false);
}

void Error::Begin()
{
    json_io msg(nullptr);
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "mt", "PostResult");
    msg.add_string(base, "src", session->Src());
    msg.add_bool(base, "error", true);
    Send(msg);
}

DatabaseReset::DatabaseReset(MessagesSession* session) : MessagesRequest(session) {}

DatabaseReset::~DatabaseReset()
{
    delete reset;
    delete init;
}

void DatabaseReset::Begin()
{
    if (!Database()) return FailLater();
    working = true;
    reset = new TaskDatabaseReset(Database());
    reset->Start(this);
}

void DatabaseReset::TaskComplete(ITask* task)
{
    Ended(task);
}

void DatabaseReset::TaskFailed(ITask* task)
{
    Ended(task);
}

void DatabaseReset::Ended(ITask* task)
{
    if (task && task == reset) {
        delete reset;
        reset = nullptr;
        // A failed drop may have dropped some tables; they must come back.
        if (Database()) {
            init = new TaskDatabaseInit(Database());
            init->Start(this);
            return;
        }
    }
    if (WorkEnded()) return;
    json_io msg(nullptr);
    unsigned short base = msg.add_object(json_io::NONE, nullptr);
    msg.add_string(base, "mt", "DatabaseResetResult");
    msg.add_string(base, "src", session->Src());
    Send(msg);
}
