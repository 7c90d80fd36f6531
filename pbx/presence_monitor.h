#pragma once

#include "messages/messages_user.h"
#include "messages/updates/read_update_filter.h"
#include "pbx/pbx_call.h"
#include "runtime/task.h"

class TaskUnreadCount;
class TaskUserInit;

// A presence subscription of the PBX for a user: answered with "conn", then
// the user's unread count as a badge ("#badge:N"), counted once from the
// database and kept current from the read-state updates of the instance.
// The object "chat" counts chat messages, any other object the messages
// that notify the user.
class MessagesPresenceMonitor : public MessagesCall, public MessagesUser, public MessagesFilterRead, public UTask {
public:
    // Takes over the user the link built from the setup.
    MessagesPresenceMonitor(MessagesPbxSignaling* link, int call, MessagesUser* user, const char* object);
    // Stops a task that still runs; the filter leaves the distribution.
    ~MessagesPresenceMonitor() override;

    // "rel" ends the subscription and deletes the monitor.
    void Signaling(json_io& msg, unsigned short sig, const char* src, const char* type) override;
    void Send(MessagesUpdateRead* update) override;
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;

    unsigned long long Badge() const { return Count(); }

private:
    enum Mode { NOTIFIED = 0, CHAT = 1 };
    void Notify();

    Mode mode;
    TaskUserInit* init = nullptr;
    TaskUnreadCount* unread = nullptr;
};
