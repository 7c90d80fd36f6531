#include "messages/requests/post.h"

#include <strings.h>

#include <utility>

#include "database/data_set.h"
#include "messages/messages_common.h"
#include "messages/messages_user.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_chat_recipients.h"
#include "messages/tasks/task_delete_message.h"
#include "messages/tasks/task_store_message.h"
#include "messages/tasks/task_update_message.h"
#include "messages/updates/message_update.h"
#include "messages/updates/read_update.h"
#include "web/app_updates.h"

Post::Post(MessagesRequestContext* context, TaskStoreMessage* store, std::vector<std::string> bases, bool deliver)
    : MessagesRequest(context), store(static_cast<TaskStoreMessage*>(MessageContentShare(store))),
      bases(std::move(bases)), deliver(deliver)
{
}

Post::~Post()
{
    delete recipients;
    MessageContentRelease(store);
    for (TaskStoreMessage* copy : copies) MessageContentRelease(copy);
}

void Post::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    store->Start(this);
}

void Post::Done(ITask* task, bool failed)
{
    if (task == store && !failed && deliver && !store->notifications.Empty() && Database()) {
        recipients = new TaskChatRecipients(Database(), store->author, store->notifications);
        return recipients->Start(this);
    }
    if (recipients && task == recipients) {
        delete recipients;
        recipients = nullptr;
        // Without all its recipients the message stays the writer's alone.
        if (failed) {
            for (TaskStoreMessage* copy : copies) MessageContentRelease(copy);
            copies.clear();
        }
        return DeliverNext();
    }
    // A copy (no task at all: the store never started).
    if (task && task != store) {
        delivered++;
        return DeliverNext();
    }
    Posted(failed);
}

void Post::TaskProgress(ITask* task, unsigned)
{
    if (task != recipients) return;
    IDataSet* row = recipients->Row();
    auto* copy = new TaskStoreMessage(Database(), &context->RequestCommon()->statements, nullptr, 1, 0, 0,
                                      store->author, row->GetStringValue("topic"), nullptr, store->text, nullptr,
                                      nullptr, nullptr);
    copy->AddNotification(row->GetStringValue("notify"));
    copies.push_back(static_cast<TaskStoreMessage*>(MessageContentShare(copy)));
    recipients->Next();
}

void Post::DeliverNext()
{
    if (delivered == copies.size() || !Database()) return Posted(false);
    copies[delivered]->Start(this);
}

void Post::Posted(bool failed)
{
    MessagesReply reply("PostResult", Src());
    reply.Ulong64("session", context->RequestSessionNumber());
    reply.Ulong64("key", context->RequestKey());
    if (store->id) reply.Ulong64("id", store->id);
    if (store->discussionId) reply.Ulong64("addsTo", store->discussionId);
    if (failed) reply.Bool("error", true);
    Reply(reply.Json());
}

void Post::AfterReply()
{
    // Stored: the store task has completed without failing.
    if (!store->IsComplete() || store->IsFailed()) return;
    MessagesCommon* common = context->RequestCommon();
    AppUpdates* hub = context->RequestUpdates();
    auto* update = new MessagesUpdateMessage(&common->messageFilters, context->RequestSessionNumber(),
                                             store->FilterSrc(), 0, store, false);
    store->addsTo = store->discussionId;
    hub->StartUpdate(new MessagesUpdateRead(&common->readFilters, store, 1));
    // The author's own session knows the author's display name.
    const MessagesUser* poster = context->RequestUser();
    bool own = poster->sip && store->author && !strcasecmp(poster->sip, store->author);
    const char* dn = own ? (poster->dn ? poster->dn : "") : nullptr;
    update->Start(hub, Database(), dn);
    // The files it names are fetched now that it is stored, into each copy's
    // folder too, so that every side of a chat has them; readers see the
    // list until they are.
    if (store->Attach()) common->attachments.Attach(store->id, store->Attach(), bases);
    // The copies of a chat message: each reaches its reader's filters.
    for (TaskStoreMessage* copy : copies) {
        if (!copy->IsComplete() || copy->IsFailed()) continue;
        auto* announce = new MessagesUpdateMessage(&common->messageFilters, 0, nullptr, 0, copy, false);
        copy->addsTo = copy->discussionId;
        hub->StartUpdate(new MessagesUpdateRead(&common->readFilters, copy, 1));
        announce->Start(hub, Database(), dn);
        if (store->Attach()) common->attachments.Attach(copy->id, store->Attach(), bases);
    }
}

Update::Update(MessagesRequestContext* context, unsigned long long id, TaskUpdateMessage* update)
    : MessagesRequest(context), id(id), update(update)
{
}

Update::~Update()
{
    delete update;
}

void Update::Begin()
{
    if (!id || !Database()) return Done(nullptr, true);
    Working();
    update->Start(this);
}

void Update::Done(ITask*, bool failed)
{
    MessagesReply reply("UpdateResult", Src());
    reply.Ulong64("session", context->RequestSessionNumber());
    reply.Ulong64("key", context->RequestKey());
    reply.Ulong64("id", id);
    if (failed) reply.Bool("error", true);
    Reply(reply.Json());
}

void Update::AfterReply()
{
    context->RequestCommon()->keptCounts.Edited();
}

Delete::Delete(MessagesRequestContext* context, unsigned long long id) : MessagesRequest(context), id(id) {}

Delete::~Delete()
{
    delete remove;
}

void Delete::Begin()
{
    const char* sip = context->RequestUser()->sip;
    if (!id || !sip || !Database()) return Done(nullptr, true);
    Working();
    remove = new TaskDeleteMessage(Database(), id, sip);
    remove->Start(this);
}

void Delete::Done(ITask*, bool failed)
{
    MessagesReply reply("DeleteResult", Src());
    if (failed) reply.Bool("error", true);
    Reply(reply.Json());
}

void Delete::AfterReply()
{
    context->RequestCommon()->keptCounts.Removed();
}
