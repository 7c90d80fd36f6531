#include "messages/updates/read_chat_update.h"

#include "runtime/assert.h"

MessagesUpdateReadChat::MessagesUpdateReadChat(AppUpdatesFilters* readFilters, const char* name)
    : MessagesUpdateRead(readFilters, name), MessageContent(1, 0, 0, nullptr, name, nullptr, nullptr, nullptr),
      MessageFilter(MessageFilter::AND)
{
    SetOwnMessage(this);
    // A chat message always notifies its partner; read filters that ask for
    // chat messages ask for exactly that.
    MessageContent::notifications.Add("");
    AddTopic(name);
    AddNotification("");
}

MessagesUpdateReadChat::~MessagesUpdateReadChat()
{
    ASSERT(!counting, "MessagesUpdateReadChat deleted during its count");
}

void MessagesUpdateReadChat::SetState(State next)
{
    switch (next) {
    case COUNTING: ASSERT(state == NEW, "MessagesUpdateReadChat started twice"); break;
    case STARTED: ASSERT(state == COUNTING, "MessagesUpdateReadChat counted twice"); break;
    default: FATAL("MessagesUpdateReadChat: impossible state");
    }
    state = next;
}

void MessagesUpdateReadChat::Run(AppUpdates* updates, ITask* count, CountResult countResult)
{
    ASSERT(count, "MessagesUpdateReadChat without a count");
    SetState(COUNTING);
    hub = updates;
    counting = count;
    result = countResult;
    counting->Start(this);
}

void MessagesUpdateReadChat::TaskComplete(ITask* task)
{
    SetCount(result(task));
    delete counting;
    counting = nullptr;
    SetState(STARTED);
    hub->StartUpdate(this);
}

void MessagesUpdateReadChat::TaskFailed(ITask*)
{
    delete counting;
    counting = nullptr;
    // The failing task touches nothing after this callback, and nobody else
    // knows this update yet.
    delete this;
}
