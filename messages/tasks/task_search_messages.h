#pragma once

#include <string>

#include "messages/tasks/task_read_messages.h"

// Reads the messages whose text matches a search expression (see
// MessagesSearchQuery), newest first, a page at a time, with the columns of
// every other read; within the readable topics, and within one topic when
// one is named. The next page starts below the id of the last row ("more").
class TaskSearchMessages : public TaskReadMessages {
public:
    // topic may be null; more 0 starts with the newest message.
    TaskSearchMessages(IDatabase* database, int count, const char* user, const std::string& query,
                       const char* topic, unsigned long long more, const MessagesReadableTopics& readable);

    bool Initial() const override { return false; }
    size_t Statement(char* buf, size_t size) const override;

private:
    std::string query;
    std::string topic;
    bool hasTopic;
    unsigned long long more;
};
