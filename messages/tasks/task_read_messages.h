#pragma once

#include <string>

#include "messages/readable_topics.h"
#include "messages/tasks/task_rows.h"

class MessageFilter;
class SqlText;

// Reads one page of messages with one statement and hands out its rows one
// at a time: the messages of a discussion (addsTo), the list of discussions
// (one root message each), all messages under a filter, or only liked ones.
// Each page is ordered newest first with the message id breaking ties, and
// the next page starts strictly after the position the client names
// (timestamp and id of its last row), so pages neither repeat nor skip a row:
// - messages of a discussion: message time and message id;
// - discussion list: the discussion's time ("rtimestamp") and its id ("addsTo");
// - liked: the time of the latest like ("ltimestamp") and the message id;
// - other lists, ordered by discussion activity: the discussion's time
//   ("rtimestamp") and the message id.
// Rows are handed out one at a time (MessagesTaskRows).
class TaskReadMessages : public MessagesTaskRows {
public:
    // user: the SIP name for whom read marks, likes and unread counts are
    // read, or null. The filter (not owned, may be null) must outlive the
    // task. Only messages of the readable topics are read.
    TaskReadMessages(IDatabase* database, int count, unsigned long long addsTo, bool discussion, bool liked,
                     const char* user, const MessageFilter* filter, unsigned long long timestamp,
                     unsigned long long lastId, const MessagesReadableTopics& readable);
    void Start(UTask* owner) override;
    bool HasUser() const { return !reader.empty(); }
    // Rows of a first page of a list carry "initial".
    virtual bool Initial() const { return !addsTo && !timestamp; }

    // The statement, into a room of `size`: StatementSize() is always enough.
    virtual size_t Statement(char* buf, size_t size) const;
    size_t StatementSize() const;

protected:
    // The statement, or with params its shape (SqlText) and their values.
    size_t Write(char* buf, size_t size, SqlParams* params) const;
    // The statement up to the page's conditions: the columns of a row and
    // the tables they come from, the discussion list's own way or the usual.
    void PrintPageStart(SqlText& sql, bool discussionList) const;
    // After the page's order and limit: the counts per discussion and per
    // row, in `order` over the page's columns; `discussionPerRow` when each
    // row of the page is a discussion of its own.
    void PrintPageEnd(SqlText& sql, const char* order, bool discussionPerRow) const;

    int count;
    unsigned long long addsTo;
    bool discussion;
    bool liked;
    std::string reader;
    const MessageFilter* filter;
    unsigned long long timestamp;
    unsigned long long lastId;
    MessagesReadableTopics readable;
};
