#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

// Finds out whether a user wrote a message: only its author may change or
// delete it. Completes either way (Authorized() tells); fails on a database
// error. Reports on the loop; the owner may delete the task inside either callback.
class TaskAuthorizeUpdateMessage : public ITask, public UDatabase {
public:
    TaskAuthorizeUpdateMessage(IDatabase* database, unsigned long long id, const char* sip);
    void Start(UTask* owner) override;
    bool Authorized() const { return authorized; }

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    unsigned long long id;
    std::string sip;
    bool authorized = false;
};
