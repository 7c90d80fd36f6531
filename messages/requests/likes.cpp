#include "messages/requests/likes.h"

#include "database/data_set.h"
#include "messages/message_content.h"
#include "messages/messages_common.h"
#include "messages/messages_user.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_likes.h"
#include "messages/updates/message_update.h"
#include "web/app_updates.h"

Like::Like(MessagesRequestContext* context, unsigned long long id, MessageContent* content,
           const MessagesReadableTopics& readable, bool like)
    : MessagesRequest(context), id(id), content(content ? MessageContentShare(content) : nullptr), readable(readable),
      like(like)
{
}

Like::~Like()
{
    delete task;
    if (content) MessageContentRelease(content);
}

void Like::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    if (like) task = new TaskLike(Database(), id, context->RequestUser()->sip, readable);
    else task = new TaskUnLike(Database(), id, context->RequestUser()->sip);
    task->Start(this);
}

void Like::Done(ITask*, bool)
{
    MessagesReply reply(like ? "LikeResult" : "UnLikeResult", Src());
    if (like) reply.Ulong64("id", id);
    Reply(reply.Json());
}

void Like::AfterReply()
{
    // Nothing was liked without a database, nor a message of another topic.
    if (!like || !task || !content || task->Refused()) return;
    MessagesCommon* common = context->RequestCommon();
    context->RequestUpdates()->StartUpdate(new MessagesUpdateMessage(
        &common->messageFilters, context->RequestSessionNumber(), nullptr, 0, content, true));
}

Likes::Likes(MessagesRequestContext* context, unsigned long long id, IDatabase* database,
             const MessagesReadableTopics& readable)
    : ReadRows(context, new TaskLikes(database, id, PAGE_SIZE, readable), "Like", "LikesResult"), id(id)
{
}

void Likes::Describe(IDataSet* row, MessagesReply& out)
{
    out.Ulong64("id", id);
    out.String("sip", row->GetStringValue("sip"));
    out.Ulong64("time", row->GetULong64Value("time"));
}
