#include "messages/requests/read_marks.h"

#include "messages/messages_common.h"
#include "messages/messages_user.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_set_read.h"
#include "messages/tasks/task_unread_count.h"
#include "messages/updates/read_update.h"
#include "messages/updates/read_update_filter.h"
#include "web/app_updates.h"

SetRead::SetRead(MessagesRequestContext* context, unsigned long long id, const MessagesReadableTopics& readable)
    : MessagesRequest(context), id(id), readable(readable)
{
}

SetRead::~SetRead()
{
    if (mark) MessageContentRelease(mark);
}

void SetRead::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    mark = static_cast<TaskSetReadGetContent*>(
        MessageContentShare(new TaskSetReadGetContent(Database(), id, context->RequestUser()->sip, readable)));
    mark->Start(this);
}

bool SetRead::Marked() const
{
    return mark && mark->IsComplete() && !mark->IsFailed();
}

void SetRead::Done(ITask*, bool)
{
    MessagesReply reply("SetReadResult", Src());
    reply.Ulong64("id", Marked() ? mark->id : 0);
    Reply(reply.Json());
}

void SetRead::AfterReply()
{
    if (!Marked()) return;
    MessagesCommon* common = context->RequestCommon();
    context->RequestUpdates()->StartUpdate(
        new MessagesUpdateRead(&common->readFilters, mark, -1, 0, context->RequestUser()->sip, mark->MarkXid()));
}

bool SetUnreadFilter::Repeats(MessagesRequestContext* context, const MessagesFilterRead* old,
                              const MessageFilter& asked, const MessagesReadableTopics& readable)
{
    MessagesKeptCounts& keeper = context->RequestCommon()->keptCounts;
    const char* user = context->RequestUser()->sip;
    return old && old->IsExact() && old->CountedWithin() == readable && old->CountedEra() == keeper.Era(*old) &&
           std::chrono::steady_clock::now() - old->CountedAt() < std::chrono::minutes(10) &&
           MessagesKeptCounts::Key(user, old, readable) == MessagesKeptCounts::Key(user, &asked, readable);
}

SetUnreadFilter::SetUnreadFilter(MessagesRequestContext* context, MessagesFilterRead* filter,
                                 const MessagesReadableTopics& readable, bool repeated)
    : MessagesRequest(context), filter(filter), readable(readable), repeated(repeated)
{
}

SetUnreadFilter::~SetUnreadFilter()
{
    delete count;
}

void SetUnreadFilter::Begin()
{
    if (!Database()) return Done(nullptr, true);
    if (repeated) return Done(nullptr, false);
    count = new TaskUnreadCount(context->RequestReadDatabase(), context->RequestUser()->sip, filter, 0, readable);
    MessagesKeptCounts& keeper = context->RequestCommon()->keptCounts;
    era = keeper.Era(*filter);
    MessagesCountTaken kept;
    // A kept count is of the current era: edits and deletions drop those they may move.
    if (keeper.Take(count->Key(), kept)) {
        filter->Counted(kept, readable);
        return Done(nullptr, false);
    }
    filter->CountFrom(MessagesUpdateRead::NextSerial());
    Working();
    count->Start(this);
}

void SetUnreadFilter::Done(ITask* task, bool failed)
{
    MessagesReply reply("SetUnreadFilterResult", Src());
    // Without a count there is no number to give; a 0 would read as "all read".
    if (failed) {
        filter->CountFailed();
        reply.Bool("error", true);
    }
    else {
        // Without a task the count was a kept one, or the filter's own.
        if (task) filter->Counted(count->Get(), readable, era, count->Seen(), count->Snapshot());
        reply.Ulong64("count", filter->Count());
    }
    Reply(reply.Json());
}
