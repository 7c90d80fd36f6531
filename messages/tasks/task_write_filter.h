#pragma once

#include "messages/tasks/task_write.h"

// Writes a saved filter of a user. With its text ("filter") it is created
// (id 0) or replaced; without, it is moved to the end of the user's order
// (seq) or deleted. Only the owner's filters are changed: another user's id
// matches no row and the task completes all the same. Id() is the new
// filter's after a creation, the given one otherwise.
class TaskWriteFilter : public MessagesTaskWrite {
public:
    // Strings are copied; any may be null.
    TaskWriteFilter(IDatabase* database, unsigned long long owner, unsigned long long id, const char* filter,
                    const char* text, const char* topic, const char* dn, const char* tag, bool seq);
    ~TaskWriteFilter() override;
    void Start(UTask* owner) override;

private:
    unsigned long long ownerId;
    char* filter = nullptr;
    char* text = nullptr;
    char* topic = nullptr;
    char* dn = nullptr;
    char* tag = nullptr;
    bool seq;
};
