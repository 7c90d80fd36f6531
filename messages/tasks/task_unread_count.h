#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

class MessageFilter;

// Counts the messages a user has not read under a filter: written by
// somebody else, without the user's read mark, in a discussion of the given
// type (0: plain discussions) that was active within the last 30 days.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskUnreadCount : public ITask, public UDatabase {
public:
    // The filter (not owned, may be null) must outlive the task.
    TaskUnreadCount(IDatabase* database, const char* sip, const MessageFilter* filter, unsigned type = 0);
    void Start(UTask* owner) override;
    unsigned long long Get() const { return count; }

    // The statement, into a room of `size` (10000 is always enough).
    size_t Statement(char* buf, size_t size) const;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    std::string sip;
    const MessageFilter* filter;
    unsigned type;
    unsigned long long count = 0;
};
