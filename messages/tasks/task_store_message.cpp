#include "messages/tasks/task_store_message.h"

#include "messages/tasks/task_store_message_carefully.h"
#include "messages/tasks/task_store_message_confidently.h"
#include "runtime/assert.h"

TaskStoreMessage::TaskStoreMessage(IDatabase* database, MessagesStatements* statements, const MessagesUser* poster,
                                   unsigned type,
                                   unsigned long long addsTo,
                                   unsigned long long repliesTo, const char* author, const char* topic,
                                   const char* tdn, const char* text, const char* guid, const char* filterSrc,
                                   const char* attach)
    : MessageContent(type, addsTo, repliesTo, author, topic, tdn, text, guid), database(database),
      statements(statements), poster(poster), filterSrc(filterSrc ? filterSrc : ""), attach(attach ? attach : "")
{
}

TaskStoreMessage::~TaskStoreMessage()
{
    delete confident;
    delete careful;
}

void TaskStoreMessage::AddNotification(const char* sip)
{
    if (sip && *sip && !notifications.Contains(sip)) notifications.Add(sip);
}

void TaskStoreMessage::AddTag(const char* name)
{
    if (name && *name && !tags.Contains(name)) tags.Add(name);
}

void TaskStoreMessage::Start(UTask* owner)
{
    ASSERT(!confident, "TaskStoreMessage started twice");
    user = owner;
    confident = new TaskStoreMessageConfidently(database, statements, poster, this);
    confident->Start(this);
}

void TaskStoreMessage::TaskComplete(ITask*)
{
    Complete();
}

void TaskStoreMessage::TaskFailed(ITask* task)
{
    if (task == careful || confident->Refused()) return Failed();
    // Without a named author and topic the careful strategy has nothing to
    // look up, and without a connection nothing can be stored.
    if (!author || !*author || !topic || !*topic || !database->Connected()) return Failed();
    careful = new TaskStoreMessageCarefully(database, poster, this);
    careful->Start(this);
}
