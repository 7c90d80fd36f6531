#pragma once

#include "database/database.h"
#include "runtime/task.h"

class MessageContent;
class MessageStrings;

// Reads of one message by id, each filling what its owner gives it. Each
// completes when its rows have arrived (an unknown message completes with
// nothing filled) and fails on a database error.
// Report on the loop; the owner may delete the task inside either callback.
class MessagesTaskReadOne : public ITask, public UDatabase {
public:
    bool Found() const { return found; }

protected:
    MessagesTaskReadOne(IDatabase* database, unsigned long long id) : database(database), id(id) {}
    // Called for every row of the result.
    virtual void Take(IDataSet* row) = 0;

    IDatabase* database;
    unsigned long long id;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    bool found = false;
};

// The message itself: id, discussion, answered message, author, topic,
// text and guid into the content.
class TaskReadMessage : public MessagesTaskReadOne {
public:
    TaskReadMessage(IDatabase* database, unsigned long long id, MessageContent* content)
        : MessagesTaskReadOne(database, id), content(content)
    {
    }
    void Start(UTask* owner) override;

private:
    void Take(IDataSet* row) override;
    MessageContent* content;
};

// The SIP names the message notifies, appended to the list.
class TaskReadNotifications : public MessagesTaskReadOne {
public:
    TaskReadNotifications(IDatabase* database, unsigned long long id, MessageStrings* list)
        : MessagesTaskReadOne(database, id), list(list)
    {
    }
    void Start(UTask* owner) override;

private:
    void Take(IDataSet* row) override;
    MessageStrings* list;
};

// The tag names of the message, appended to the list.
class TaskReadMessageTags : public MessagesTaskReadOne {
public:
    TaskReadMessageTags(IDatabase* database, unsigned long long id, MessageStrings* list)
        : MessagesTaskReadOne(database, id), list(list)
    {
    }
    void Start(UTask* owner) override;

private:
    void Take(IDataSet* row) override;
    MessageStrings* list;
};
