#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "runtime/task.h"

class MessagesTopic;
class MessagesUser;

// Completes a logged-in user from the database: the user's row (created or
// given the login's display name), the rows of its topics, and every
// sub-topic ("topic?name") that topic_access grants it, directly, through
// one of its groups or to everyone. Reports on the loop; the owner may
// delete the task inside either callback. A failure leaves the user with
// what was completed so far; after Stop the user is no longer touched.
class TaskUserInit : public ITask, public UDatabase {
public:
    TaskUserInit(IDatabase* database, MessagesUser* login);
    void Start(UTask* owner) override;

private:
    enum Step { IDLE, USER_ROW, TOPIC_ROWS, SUB_TOPICS };
    struct SubTopic {
        std::string sip;
        std::string dn;
        bool hasDn;
        unsigned long long id;
        bool admin;
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long id) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void SelectSubTopics();
    void Grant(IDataSet* row);
    void Finish();
    // After a stop request: ends without writing to the user.
    void Stopped();

    IDatabase* database;
    MessagesUser* login;
    Step step = IDLE;
    std::vector<SubTopic> found;
};
