#pragma once

#include "database/database.h"
#include "runtime/task.h"

// Records the display name of a user announced by an app object. Reports on
// the loop; the owner may delete the task inside either callback.
class TaskSession : public ITask, public UDatabase {
public:
    TaskSession(IDatabase* database, const char* user, const char* dn);
    ~TaskSession() override;
    void Start(UTask* owner) override;

private:
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    char* sipName;
    char* dn;
};
