#pragma once

#include <string>

#include "database/database.h"
#include "dbfiles/dbfiles_statements.h"
#include "runtime/task.h"

class DbFiles;

// Del and Move: one statement on one row. Deleting a file takes its content
// with it through the cascade of files_data.
class DbFilesUpdate : public ITask, public UDatabase {
public:
    DbFilesUpdate(DbFiles* store, unsigned long long id);
    DbFilesUpdate(DbFiles* store, unsigned long long id, const char* name, unsigned long long folder);
    ~DbFilesUpdate() override;
    void Start(UTask* owner) override;

private:
    enum state_t {
        UPDATE_NEW,
        UPDATE_RUNNING,
        UPDATE_DONE,
        UPDATE_FAILED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void SetState(state_t next);

    DbFiles* store;
    dbfiles_statement_t statement;
    unsigned long long id;
    std::string name;
    unsigned long long folder = 0;
    state_t state = UPDATE_NEW;
};
