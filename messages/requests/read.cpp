#include "messages/requests/read.h"

#include <string.h>

#include "database/data_set.h"
#include "messages/message_strings.h"
#include "messages/messages_common.h"
#include "messages/messages_user.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_read_messages.h"

MessagesReadRequest::MessagesReadRequest(MessagesRequestContext* context, const char* resultMt,
                                         TaskReadMessages* read)
    : MessagesRequest(context), resultMt(resultMt), read(read)
{
}

MessagesReadRequest::~MessagesReadRequest()
{
    delete read;
}

namespace {

// Entries of a blank-separated list.
unsigned Words(const char* list)
{
    unsigned n = 0;
    for (const char* p = list; p && *p;) {
        p += strspn(p, " \t\r\n");
        if (!*p) break;
        n++;
        p += strcspn(p, " \t\r\n");
    }
    return n;
}

}  // namespace

void MessagesReadRequest::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    read->Start(this);
}

void MessagesReadRequest::TaskProgress(ITask*, unsigned)
{
    // Rows for a client that has gone are read no further.
    if (context->RequestSessionClosed()) {
        read->Stop();
        return read->Next();
    }
    IDataSet* row = read->Row();
    MessagesReply add("Add", Src());
    if (read->Initial()) add.Bool("initial", true);
    unsigned short msg = add.Object("msg");
    add.Ulong64("id", row->GetULong64Value("id"), msg);
    add.Ulong64("addsTo", row->GetULong64Value("adds_to"), msg);
    add.Ulong64("repliesTo", row->GetULong64Value("replies_to"), msg);
    add.String("author", row->GetStringValue("author"), msg);
    add.String("dn", row->GetStringValue("dn"), msg);
    const char* topic = row->GetStringValue("topic");
    add.String("topic", topic, msg);
    const char* tdn = row->GetStringValue("tdn");
    if (!*tdn) {
        const MessagesTopic* known = context->RequestUser()->FindTopic(topic);
        if (known && known->dn) tdn = known->dn;
    }
    add.String("tdn", tdn, msg);
    add.String("text", row->GetStringValue("text"), msg);
    const char* guid = row->GetStringValueWithNull("guid");
    std::string guidText = guid ? GuidText(guid) : std::string();
    if (guid) add.String("guid", guidText.c_str(), msg);
    add.Ulong64("timestamp", row->GetULong64Value("time"), msg);
    add.Ulong64("rtimestamp", row->GetULong64Value("rtime"), msg);
    add.Ulong64("ltimestamp", row->GetULong64Value("ltime"), msg);
    add.Unsigned("replies", row->GetUIntValue("rcount"), msg);
    add.Unsigned("likes", row->GetUIntValue("likes"), msg);
    bool user = read->HasUser();
    add.Bool("like", user && row->GetBoolValue("like"), msg);
    add.Ulong64("read", user ? row->GetULong64Value("read") : 0, msg);
    add.Unsigned("unread", user ? row->GetUIntValue("unread") : 0, msg);
    // How many files the message has (or is being given), so that a client
    // asks "Attachments" only for those that have some.
    unsigned long long id = row->GetULong64Value("id");
    const char* attached = row->GetStringValueWithNull("attached");
    if (!attached || !*attached) attached = context->RequestCommon()->attachments.Pending(id);
    unsigned files = Words(attached);
    if (files) add.Unsigned("attached", files, msg);
    SendRow(add.Json());
    rows++;
    read->Next();
}

void MessagesReadRequest::Done(ITask*, bool)
{
    // Rows sent before a database error stand; the reply follows them.
    MessagesReply reply(resultMt, Src());
    ReplyMembers(reply);
    Reply(reply.Json());
}
