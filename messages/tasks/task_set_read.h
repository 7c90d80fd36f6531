#pragma once

#include <string>

#include "database/database.h"
#include "messages/message_content.h"
#include "messages/readable_topics.h"
#include "messages/tasks/task_read_message.h"
#include "runtime/task.h"

// Marks a message read for a user. Fails when nothing was marked: the user's
// own message, an unknown message, one outside the readable topics, or a
// mark that exists already.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskSetRead : public ITask, public UDatabase {
public:
    TaskSetRead(IDatabase* database, unsigned long long id, const char* sip, const MessagesReadableTopics& readable);
    void Start(UTask* owner) override;
    // The transaction that wrote the mark, once marked.
    unsigned long long Xid() const { return xid; }

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    unsigned long long id;
    std::string sip;
    MessagesReadableTopics readable;
    unsigned long long xid = 0;
};

// Marks a message read and reads it, its notifications and its tags into
// itself, so that the unread counts it changes can be told which filters it
// matches. The four statements are queued at once, so that they run one
// after the other instead of each waiting its turn behind other sessions'
// commands; the reads see the mark's outcome, and the task fails when
// nothing was marked. Updates may share the content (useCount): the task is
// deleted by whoever gives up the last share.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskSetReadGetContent : public MessageContent, public ITask, public UTask {
public:
    TaskSetReadGetContent(IDatabase* database, unsigned long long id, const char* sip,
                          const MessagesReadableTopics& readable);
    ~TaskSetReadGetContent() override;
    void Start(UTask* owner) override;
    unsigned long long MarkXid() const { return mark.Xid(); }

private:
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;

    TaskSetRead mark;
    TaskReadMessage message;
    TaskReadNotifications notified;
    TaskReadMessageTags tagged;
    // The statements not answered yet; whether one of them failed.
    int pending = 0;
    bool failed = false;
};
