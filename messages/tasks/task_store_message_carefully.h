#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "database/database_switch.h"
#include "runtime/task.h"

class MessageContent;
class MessagesTaskGetEntityId;
class MessagesUser;

// The thorough way to store a message: one transaction that first gets or
// creates the row of author, topic, every notified user and every tag, and
// then stores the message and its references by id. Its statements and
// those of its look-ups share one transaction through its own switch.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskStoreMessageCarefully : public ITask, public UTask, public UDatabase {
public:
    // The content is the store task's; author and topic must be named. With
    // a poster, a discussion in a topic not of the poster's is refused.
    TaskStoreMessageCarefully(IDatabase* database, const MessagesUser* poster, MessageContent* content);
    ~TaskStoreMessageCarefully() override;
    void Start(UTask* owner) override;

    // The row id of a listed name (exact), 0 when not listed or not known yet.
    unsigned long long GetObjectId(const char* name) const;
    unsigned long long GetTagId(const char* name) const;

private:
    struct Entity {
        std::string name;
        unsigned long long id;
    };
    enum State { IDLE, BEGIN, RESOLVING, LOOKUP_REPLY, LOOKUP_ROOT, INSERT_DISCUSSION, INSERT_MESSAGE, INSERT_ROOT,
                 REFERENCES, COMMIT, ENDED };

    static void List(std::vector<Entity>& list, const char* name);
    static unsigned long long Find(const std::vector<Entity>& list, const char* name);
    void SetState(State next);
    void Next();
    // The next notification or tag insert; false when all are done.
    bool NextReference();
    void Fail();

    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseBeginTransactionResult(IDatabase* db) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long id) override;
    void DatabaseEndTransactionResult(IDatabase* db) override;

    DatabaseSwitch database;
    const MessagesUser* poster;
    MessageContent* content;
    State state = IDLE;
    std::vector<Entity> objects;
    std::vector<Entity> tags;
    MessagesTaskGetEntityId* lookup = nullptr;
    // Position among the notifications, then the tags, inserted so far.
    size_t referencesDone = 0;
    // Ids already referenced: names that differ only in letter case are one
    // row and would break the uniqueness of the reference.
    std::vector<unsigned long long> notified, tagged;
};
