#include "messages/requests/session.h"

#include "messages/messages_user.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"

InitSession::InitSession(MessagesRequestContext* context, MessagesUser* login)
    : MessagesRequest(context), login(login)
{
}

InitSession::~InitSession()
{
    delete init;
}

void InitSession::Begin()
{
    // Without a database the session goes on with the topics of its login.
    if (!Database()) return End();
    Working();
    init = new TaskUserInit(Database(), login);
    init->Start(this);
}

void InitSession::Done(ITask*, bool)
{
    // After a failure the session goes on with the topics it has.
    End();
}

Session::Session(MessagesRequestContext* context, unsigned number, const char* user, const char* dn)
    : MessagesRequest(context), number(number), user(user ? user : ""), dn(dn ? dn : ""), storeDn(dn != nullptr)
{
}

Session::~Session()
{
    delete store;
}

void Session::Begin()
{
    if (!storeDn || !Database()) return Done(nullptr, false);
    Working();
    store = new TaskSession(Database(), user.c_str(), dn.c_str());
    store->Start(this);
}

void Session::Done(ITask*, bool)
{
    // Also when the name could not be stored.
    MessagesReply reply("SessionResult", Src());
    reply.Unsigned("session", number);
    Reply(reply.Json());
}

void ReadTopics::Begin()
{
    Sending();
    next = context->RequestUser()->FirstTopic();
    RowSent();
}

void ReadTopics::RowSent()
{
    if (!next) {
        MessagesReply reply("ReadTopicsResult", Src());
        return Reply(reply.Json());
    }
    MessagesTopic* topic = next;
    // Topics do not change while a request of the session runs.
    next = context->RequestUser()->NextTopic(topic);
    MessagesReply row("Topic", Src());
    row.String("sip", topic->sip);
    row.String("dn", topic->dn);
    row.Ulong64("id", topic->id);
    if (topic->admin) row.Bool("admin", true);
    SendRow(row.Json());
}

void Error::Begin()
{
    MessagesReply reply(mt, Src());
    reply.Bool("error", true);
    Reply(reply.Json());
}
