#pragma once

#include <string>

#include "messages/tasks/task_rows.h"

// One page of tag names, newest first, one at a time (MessagesTaskRows):
// columns "id" and "name". The next page starts below the smallest id of
// this one.
class TaskReadTags : public MessagesTaskRows {
public:
    // count 0: 20 tags. like: a LIKE pattern as the client wrote it, wildcards
    // and all; null matches every name. more: only tags below this id; 0 for
    // the first page.
    TaskReadTags(IDatabase* database, unsigned count, const char* like, unsigned long long more);
    void Start(UTask* owner) override;

private:
    unsigned count;
    std::string like;
    unsigned long long more;
};
