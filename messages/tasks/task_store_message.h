#pragma once

#include <string>

#include "messages/message_content.h"
#include "runtime/task.h"

class IDatabase;
class MessagesStatements;
class MessagesUser;
class TaskStoreMessageCarefully;
class TaskStoreMessageConfidently;

// Stores a new message in one transaction: it opens a discussion in its
// topic, is added to a discussion, or replies to a message, and carries its
// notifications and tags. The confident strategy, which expects every user,
// topic and tag to exist and needs a few statements, runs first; only when it
// fails does the careful one look up or create each of them and store by id.
// The content is the message: on completion `id` and `discussionId` hold the
// stored row's ids. Updates may share the content (useCount), so the task is
// deleted by whoever gives up the last share.
// Reports on the loop; the owner may delete the task inside either callback
// (when it holds no share and none is held).
class TaskStoreMessage : public MessageContent, public ITask, public UTask {
public:
    // The database must be connected; statements are those prepared on it.
    // With a poster, a message added to a discussion is refused when the
    // discussion's topic is not one of the poster's (null: any topic).
    // filterSrc may be null (read as empty).
    TaskStoreMessage(IDatabase* database, MessagesStatements* statements, const MessagesUser* poster, unsigned type, unsigned long long addsTo, unsigned long long repliesTo,
                     const char* author, const char* topic, const char* tdn, const char* text, const char* guid,
                     const char* filterSrc, const char* attach);
    ~TaskStoreMessage() override;

    // Null, empty and exactly repeated names are left out.
    void AddNotification(const char* sip);
    void AddTag(const char* name);

    void Start(UTask* owner) override;

    const char* FilterSrc() const { return filterSrc.c_str(); }
    const char* Attach() const { return attach.empty() ? nullptr : attach.c_str(); }

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;

    IDatabase* database;
    MessagesStatements* statements;
    const MessagesUser* poster;
    std::string filterSrc;
    std::string attach;
    TaskStoreMessageConfidently* confident = nullptr;
    TaskStoreMessageCarefully* careful = nullptr;
};
