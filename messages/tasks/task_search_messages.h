#pragma once

#include <string>

#include "database/database.h"
#include "messages/search_query.h"
#include "messages/tasks/task_read_messages.h"

// Reads the messages whose text matches a search expression (see
// MessagesSearchQuery), newest first, a page at a time, with the columns of
// every other read; within the readable topics, and within one topic when
// one is named. The next page starts below the id of the last row ("more").
//
// A first page looks up the highest message id first; then one statement
// searches windows of ids below the start, newest first, each only when
// those above it do not fill the page.
class TaskSearchMessages : public TaskReadMessages {
public:
    // topic may be null; more 0 starts with the newest message.
    TaskSearchMessages(IDatabase* database, int count, const char* user, const MessagesSearchQuery& query,
                       const char* topic, unsigned long long more, const MessagesReadableTopics& readable);

    bool Initial() const override { return false; }
    void Start(UTask* owner) override;
    // The search below `more`; before the look-up of a first page, below
    // every id there can be.
    size_t Statement(char* buf, size_t size) const override;

private:
    enum State { IDLE, LOOKING_UP, READING };
    void SetState(State next);
    void Read();

    // The look-up of the highest id, apart from the rows' own database user.
    class Newest : public UDatabase {
    public:
        explicit Newest(TaskSearchMessages& task) : task(task) {}

    private:
        void DatabaseError(IDatabase* db, db_error_t error) override;
        void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
        TaskSearchMessages& task;
    };

    MessagesSearchQuery query;
    std::string topic;
    bool hasTopic;
    unsigned long long more;
    State state = IDLE;
    Newest newest{*this};
};
