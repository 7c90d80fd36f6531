#pragma once

#include "database/database.h"
#include "runtime/task.h"

// Looks up the display name of one object (user, topic, group) by SIP name,
// compared as the database compares names. An unknown name or a NULL display
// name completes with Get() null; a database error fails.
// Reports on the loop, never from inside Start; the owner may delete the
// task inside either callback.
class TaskReadDn : public ITask, public UDatabase {
public:
    TaskReadDn(IDatabase* database, const char* sip);
    ~TaskReadDn() override;
    void Start(UTask* owner) override;
    const char* Get() const { return dn; }

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    char* sip;
    char* dn = nullptr;
};
