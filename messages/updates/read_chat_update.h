#pragma once

#include "messages/message_content.h"
#include "messages/filter_expression.h"
#include "messages/updates/read_update.h"
#include "runtime/task.h"

// A user's current number of unread chat messages, for that user's read
// filters only. One name is both the user and the chat topic counted: the
// update is a chat message in that topic that notifies somebody, and the
// filter of the count is that topic with an empty notification.
class MessagesUpdateReadChat : public MessagesUpdateRead, public MessageContent, public MessageFilter, public UTask {
public:
    MessagesUpdateReadChat(AppUpdatesFilters* readFilters, const char* name);
    ~MessagesUpdateReadChat() override;

    // Runs count, an unread count made over this object as its filter, and
    // starts the update on hub with count->Get() as the absolute number. A
    // failed count announces nothing: a wrong number would replace a right
    // one. The update owns itself and the task from this call on.
    template <class Count>
    void Start(AppUpdates* hub, Count* count)
    {
        Run(hub, count, [](ITask* task) { return (unsigned)static_cast<Count*>(task)->Get(); });
    }

private:
    // NEW until Start; COUNTING while the count runs; then the update
    // belongs to the distribution (or is gone).
    enum State { NEW, COUNTING, STARTED };
    typedef unsigned (*CountResult)(ITask* task);
    void SetState(State next);
    void Run(AppUpdates* hub, ITask* count, CountResult result);
    void TaskComplete(ITask* task) override;
    // Deletes the update: nothing else refers to it yet.
    void TaskFailed(ITask* task) override;

    State state = NEW;
    AppUpdates* hub = nullptr;
    ITask* counting = nullptr;
    CountResult result = nullptr;
};
