#include "messages/updates/read_update.h"

#include "messages/filter_expression.h"
#include "messages/message_content.h"

unsigned long long MessagesUpdateRead::nextSerial = 1;

MessagesUpdateRead::MessagesUpdateRead(AppUpdatesFilters* readFilters, MessageContent* message, int change,
                                       unsigned count, const char* user, unsigned long long xid)
    : AppUpdate(readFilters, user), message(MessageContentShare(message)), change(change), count(count), xid(xid),
      shared(true)
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

unsigned long long MessagesUpdateRead::Gate() const
{
    return message ? MessageFilter::TopicBit(message->topicKey) : ~0ULL;
}
