#pragma once

#include "messages/tasks/task_write.h"

// Creates, renames or deletes a topic, a row of objects. With a title: a
// topic with an id is renamed and given the title; a new one is created, and
// with a user that user administers it. Without a title the topic of that
// id and name is deleted, with its access rows. Id() is the new topic's id
// after a creation, the given one otherwise.
class TaskWriteTopic : public MessagesTaskWrite {
public:
    // Strings are copied; any may be null.
    TaskWriteTopic(IDatabase* database, unsigned long long id, const char* sip, const char* dn, const char* user);
    ~TaskWriteTopic() override;
    // Without a title only a deletion is possible, and that needs the id;
    // Start must not be called otherwise.
    bool Writes() const { return dn || id; }
    void Start(UTask* owner) override;

    const char* Sip() const { return sip; }
    const char* Dn() const { return dn; }

private:
    void Take(IDataSet* row) override;

    char* sip = nullptr;
    char* dn = nullptr;
    char* creator = nullptr;
};
