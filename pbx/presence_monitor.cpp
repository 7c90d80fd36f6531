#include "pbx/presence_monitor.h"

#include <stdio.h>
#include <string.h>

#include "messages/messages_common.h"
#include "messages/tasks/task_unread_count.h"
#include "messages/tasks/task_user_init.h"
#include "pbx/pbx_message.h"
#include "pbx/pbx_signaling.h"

MessagesPresenceMonitor::MessagesPresenceMonitor(MessagesPbxSignaling* link, int call, MessagesUser* user,
                                                 const char* object)
    : MessagesCall(link, call, CONNECTED), MessagesUser(user),
      MessagesFilterRead(&link->Common()->readFilters, link->Session(), nullptr, MessagesUser::sip),
      mode(strcmp(object, "chat") ? NOTIFIED : CHAT)
{
    if (mode == CHAT) {
        // Chat messages to the user are posted to the user's own topic.
        MessageFilter::AddTopic(MessagesUser::sip);
        AddNotification("");
    }
    else {
        AddNotification(MessagesUser::sip);
    }
    SendConn();
    IDatabase* database = link->Common()->UsableDatabase();
    // Without a database the badge stays unset until the PBX subscribes again.
    if (!database) return;
    init = new TaskUserInit(database, this);
    init->Start(this);
}

MessagesPresenceMonitor::~MessagesPresenceMonitor()
{
    // The tasks touch nothing of ours once stopped.
    if (init) init->Abandon();
    if (unread) unread->Abandon();
}

void MessagesPresenceMonitor::Signaling(json_io&, unsigned short, const char*, const char* type)
{
    if (strcmp(type, "rel")) return;
    ToState0();
    delete this;
}

void MessagesPresenceMonitor::TaskComplete(ITask* task)
{
    if (task == init) {
        delete init;
        init = nullptr;
        IDatabase* database = link->Common()->UsableDatabase();
        if (!database) return;
        if (mode == NOTIFIED && FirstTopic()) {
            MessageFilter* topics = AddFilter(MessageFilter::OR);
            for (MessagesTopic* t = FirstTopic(); t; t = NextTopic(t)) topics->AddTopic(t->sip);
        }
        unread = new TaskUnreadCount(database, MessagesUser::sip, this, mode);
        CountFrom(MessagesUpdateRead::NextSerial());
        unread->Start(this);
        return;
    }
    Counted(unread->Get(), MessagesReadableTopics(), 0, unread->Seen(), unread->Snapshot());
    delete unread;
    unread = nullptr;
    Notify();
}

void MessagesPresenceMonitor::TaskFailed(ITask* task)
{
    // The monitor stays, silent, until the PBX lets it go.
    if (task == init) init = nullptr;
    else unread = nullptr;
    CountFailed();
    delete task;
}

void MessagesPresenceMonitor::Send(MessagesUpdateRead* update)
{
    // Until counted, the count being made tells what it holds.
    if (!Apply(update) || !IsCounted()) return;
    Notify();
}

void MessagesPresenceMonitor::Notify()
{
    char note[32];
    snprintf(note, sizeof(note), "#badge:%llu", Count());
    PbxSignalingMessage facility(Call(), "facility");
    unsigned short presence = facility.AddFacility("presence_notify");
    json_io& msg = facility.Json();
    msg.add_string(presence, "status", "open");
    if (Count()) msg.add_string(presence, "note", note);
    msg.add_string(presence, "contact", "app:");
    link->SendUpdate(msg, facility.Buffer());
}
