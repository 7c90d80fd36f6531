#include "pbx/group_chat.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "database/database.h"
#include "messages/messages_common.h"
#include "messages/tasks/task_read_members.h"
#include "pbx/chat_call.h"
#include "pbx/pbx_signaling.h"
#include "pbx/pbx_signalings.h"

MessagesChatInactive::MessagesChatInactive(const char* member) : member(strdup(member)) {}

MessagesChatInactive::~MessagesChatInactive()
{
    free(member);
}

MessagesGroupChat::MessagesGroupChat(MessagesPbxSignaling* link, const char* sip) : sip(strdup(sip)), link(link)
{
    link->Registry()->AddGroupChat(this);
    link->GroupChats().push_back(this);
    IDatabase* database = link->Common()->UsableDatabase();
    // Without a database the chat has nobody to call; its callers end it.
    if (!database) return;
    query = new TaskReadMembers(database, 0, sip);
    query->Start(this);
}

MessagesGroupChat::~MessagesGroupChat()
{
    // The query copied the name and touches nothing of ours once stopped.
    if (query) query->Abandon();
    link->Registry()->RemoveGroupChat(this);
    DeleteCalls();
    while (!inactive.empty()) delete static_cast<MessagesChatInactive*>(inactive.front());
    free(sip);
    free(dn);
}

int MessagesGroupChat::btree_compare(void* key)
{
    return strcasecmp(static_cast<const char*>(key), sip);
}

int MessagesGroupChat::btree_compare(btree* other)
{
    return strcasecmp(static_cast<MessagesGroupChat*>(other)->sip, sip);
}

MessagesChatCall* MessagesGroupChat::FirstCall() const
{
    return static_cast<MessagesChatCall*>(calls.front());
}

MessagesChatCall* MessagesGroupChat::NextCall(MessagesChatCall* call) const
{
    return static_cast<MessagesChatCall*>(call->goNext());
}

MessagesChatCall* MessagesGroupChat::FindMember(const char* member) const
{
    for (MessagesChatCall* c = FirstCall(); c; c = NextCall(c))
        if (!strcasecmp(c->Member(), member)) return c;
    return nullptr;
}

void MessagesGroupChat::AddCall(MessagesChatCall* call)
{
    // The calls of one member stand together, the newest first, so a text
    // reaches each member once.
    MessagesChatCall* first = FindMember(call->Member());
    if (first) calls.insert_after(first->goPrevious(), call);
    else calls.push_back(call);
}

void MessagesGroupChat::AddInactive(const char* member)
{
    inactive.push_back(new MessagesChatInactive(member));
}

void MessagesGroupChat::Relay(MessagesChatCall* from, const MessagesChatMessage& text)
{
    const char* visited = nullptr;
    for (MessagesChatCall* c = FirstCall(); c; c = NextCall(c)) {
        if (c == from || (visited && !strcasecmp(c->Member(), visited))) {
            visited = c->Member();
            continue;
        }
        visited = c->Member();
        // A caller still being checked or waiting for its "conn" hears the
        // text once it is let in.
        if (!c->Confirmed() || c->CallState() == MessagesCall::CHECKING) c->Queue(new MessagesChatMessage(text.data, text.sender, text.senderDn, text.mime,
                                                              text.attach));
        else c->SendMessage(text);
    }
    while (!inactive.empty()) {
        auto* entry = static_cast<MessagesChatInactive*>(inactive.front());
        inactive.remove(entry);
        if (strcasecmp(entry->member, from->Member())) {
            auto* call = new MessagesChatCall(link, this, link->nextCall(), entry->member, nullptr);
            call->Queue(new MessagesChatMessage(text.data, text.sender, text.senderDn, text.mime, text.attach));
        }
        delete entry;
    }
}

void MessagesGroupChat::MemberDelete(const char* member)
{
    for (MessagesChatCall* c = FirstCall(); c;) {
        MessagesChatCall* next = NextCall(c);
        if (!strcasecmp(c->Member(), member)) delete c;
        c = next;
    }
    for (istd::listElement* e = inactive.front(); e;) {
        istd::listElement* next = e->goNext();
        auto* entry = static_cast<MessagesChatInactive*>(e);
        if (!strcasecmp(entry->member, member)) delete entry;
        e = next;
    }
}

bool MessagesGroupChat::Active() const
{
    for (MessagesChatCall* c = FirstCall(); c; c = NextCall(c))
        if (c->CallState() > MessagesCall::SETUP_SENT) return true;
    return false;
}

void MessagesGroupChat::DeleteCalls()
{
    while (!calls.empty()) delete FirstCall();
}

void MessagesGroupChat::CheckDelete()
{
    if (Active()) return;
    DeleteCalls();
    if (!query) delete this;
}

void MessagesGroupChat::TaskProgress(ITask*, unsigned)
{
    IDataSet* row = query->Row();
    const char* member = row->GetStringValue("sip");
    const char* gdn = row->GetStringValueWithNull("gdn");
    if (!dn && gdn) dn = strdup(gdn);
    if (MessagesChatCall* call = FindMember(member)) {
        // A caller that the database has confirmed waits for this.
        if (call->Confirmed() && call->CallState() == MessagesCall::CHECKING) call->Connect();
    }
    else {
        new MessagesChatCall(link, this, link->nextCall(), member, nullptr);
    }
    query->Next();
}

void MessagesGroupChat::TaskComplete(ITask*)
{
    delete query;
    query = nullptr;
    if (Active()) return;
    DeleteCalls();
    delete this;
}

void MessagesGroupChat::TaskFailed(ITask*)
{
    // Members were called only in part and callers may wait for a "conn"
    // that will not come: the chat ends, and a new call begins it again.
    delete query;
    query = nullptr;
    delete this;
}
