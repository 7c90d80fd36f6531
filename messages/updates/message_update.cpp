#include "messages/updates/message_update.h"

#include <stdlib.h>
#include <string.h>

#include "messages/filter_expression.h"
#include "messages/message_content.h"
#include "messages/tasks/task_read_dn.h"
#include "runtime/assert.h"

MessagesUpdateMessage::MessagesUpdateMessage(AppUpdatesFilters* messageFilters, unsigned long long sessionId,
                                             const char* src, unsigned long long timestamp, MessageContent* message,
                                             bool liked)
    : AppUpdate(messageFilters, nullptr), sessionId(sessionId), src(src ? strdup(src) : nullptr),
      timestamp(timestamp), message(MessageContentShare(message)), liked(liked)
{
}

MessagesUpdateMessage::~MessagesUpdateMessage()
{
    ASSERT(state != LOOKING_UP, "MessagesUpdateMessage deleted during its look-up");
    free(src);
    free(dn);
    MessageContentRelease(message);
}

unsigned long long MessagesUpdateMessage::Gate() const
{
    return message ? MessageFilter::TopicBit(message->topicKey) : ~0ULL;
}

void MessagesUpdateMessage::SetState(State next)
{
    switch (next) {
    case LOOKING_UP: ASSERT(state == NEW, "MessagesUpdateMessage started twice"); break;
    case STARTED: ASSERT(state == NEW || state == LOOKING_UP, "MessagesUpdateMessage started twice"); break;
    default: FATAL("MessagesUpdateMessage: impossible state");
    }
    state = next;
}

void MessagesUpdateMessage::Start(AppUpdates* updates, IDatabase* database, const char* knownDn)
{
    hub = updates;
    if (knownDn) dn = strdup(knownDn);
    if (knownDn || !database || !message->author || !*message->author) {
        SetState(STARTED);
        hub->StartUpdate(this);
        return;
    }
    SetState(LOOKING_UP);
    lookup = new TaskReadDn(database, message->author);
    lookup->Start(this);
}

void MessagesUpdateMessage::TaskComplete(ITask*)
{
    Looked(lookup->Get());
}

void MessagesUpdateMessage::TaskFailed(ITask*)
{
    // The name is decoration; the message itself still has to reach the others.
    Looked(nullptr);
}

void MessagesUpdateMessage::Looked(const char* name)
{
    if (name) dn = strdup(name);
    delete lookup;
    lookup = nullptr;
    SetState(STARTED);
    hub->StartUpdate(this);
}
