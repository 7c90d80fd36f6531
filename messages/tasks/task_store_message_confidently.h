#pragma once

#include "database/database.h"
#include "runtime/task.h"

class MessageContent;
class MessagesStatements;
class MessagesUser;

// The quick way to store a message: one transaction that refers to author,
// topic, notified users and tags by sub-selects, in as few statements as a
// message needs. Fails (and the driver rolls the transaction back) as soon as
// a statement fails, for instance because a name does not exist yet.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskStoreMessageConfidently : public ITask, public UDatabase {
public:
    // The content is the store task's; it outlives this task. The
    // statements are those prepared on the database.
    TaskStoreMessageConfidently(IDatabase* database, MessagesStatements* statements, const MessagesUser* poster,
                                MessageContent* content);
    void Start(UTask* owner) override;
    // Failed because the discussion lies in a topic the poster may not use.
    bool Refused() const { return refused; }

private:
    enum State { IDLE, BEGIN, LOOKUP_REPLY, LOOKUP_ROOT, INSERT_DISCUSSION, INSERT_MESSAGE, INSERT_ROOT, TAGS,
                 NOTIFICATIONS, COMMIT, ENDED };

    void SetState(State next);
    void InsertMessage();
    // The next tag or notification insert, or the commit.
    void NextReference();
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseBeginTransactionResult(IDatabase* db) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long id) override;
    void DatabaseEndTransactionResult(IDatabase* db) override;

    IDatabase* database;
    MessagesStatements* statements;
    const MessagesUser* poster;
    MessageContent* content;
    bool refused = false;
    State state = IDLE;
    // The tag or notification inserted last.
    const void* reference = nullptr;
};
