#include "messages/messages_update.h"

#include <stdlib.h>
#include <string.h>

#include "messages/message_content.h"
#include "messages/task_read_dn.h"
#include "runtime/assert.h"

void MessageContentRelease(MessageContent* content)
{
    ASSERT(content->useCount > 0, "MessageContent released without a share");
    if (--content->useCount == 0) delete content;
}

namespace {

MessageContent* Share(MessageContent* content)
{
    ASSERT(content, "message update without a message");
    content->useCount++;
    return content;
}

}  // namespace

MessagesUpdateMessage::MessagesUpdateMessage(AppUpdatesFilters* messageFilters, unsigned long long sessionId,
                                             const char* src, unsigned long long timestamp, MessageContent* message,
                                             bool liked)
    : AppUpdate(messageFilters, nullptr), sessionId(sessionId), src(src ? strdup(src) : nullptr),
      timestamp(timestamp), message(Share(message)), liked(liked)
{
}

MessagesUpdateMessage::~MessagesUpdateMessage()
{
    ASSERT(state != LOOKING_UP, "MessagesUpdateMessage deleted during its look-up");
    free(src);
    free(dn);
    MessageContentRelease(message);
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

void MessagesUpdateMessage::Start(AppUpdates* updates, IDatabase* database)
{
    hub = updates;
    if (!database || !message->author || !*message->author) {
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

MessagesUpdateRead::MessagesUpdateRead(AppUpdatesFilters* readFilters, MessageContent* message, int change,
                                       unsigned count, const char* user)
    : AppUpdate(readFilters, user), message(Share(message)), change(change), count(count), shared(true)
{
}

MessagesUpdateRead::MessagesUpdateRead(AppUpdatesFilters* readFilters, const char* user)
    : AppUpdate(readFilters, user), message(nullptr), change(0), count(0), shared(false)
{
}

MessagesUpdateRead::~MessagesUpdateRead()
{
    if (shared) MessageContentRelease(message);
}
