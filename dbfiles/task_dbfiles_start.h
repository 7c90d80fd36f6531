#pragma once

#include <string>

#include "database/database.h"
#include "runtime/task.h"

class DbFiles;
class TaskPostgreSQLInitTable;

// Brings the store's tables up to date, repairs what interrupted writes left
// behind and prepares the statements, one step after the other. TaskFailed on
// the first database error (except for the root folder, whose creation may
// fail harmlessly), else TaskComplete; both on the loop, and the user may
// delete the task inside either.
class TaskDbFilesStart : public ITask, public UTask, public UDatabase {
public:
    TaskDbFilesStart(DbFiles* store, IDatabase* database, const char* folderDefinition);
    ~TaskDbFilesStart() override;
    void Start(UTask* owner) override;

private:
    enum state_t {
        START_IDLE,
        START_FILES_TABLE,
        START_DATA_TABLE,
        START_READ_STORAGE,
        START_SET_STORAGE,
        START_REPAIR,
        START_PREPARE,
        START_ROOT,
        START_DONE,
        START_FAILED,
    };

    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabasePrepareStatementResult(IDatabase* db, IPreparedStatement* statement) override;

    void SetState(state_t next);
    void CreateFilesTable();
    void CreateDataTable();
    void Repair();
    void Prepare();
    void Finish();

    DbFiles* store;
    IDatabase* database;
    bool ownFolders;
    std::string folderDefinition;
    state_t state = START_IDLE;
    // Statements arrive in the order requested, from the highest index down.
    unsigned nextPrepared = 0;
    // Kept until the task goes, so that neither dies inside its own callback.
    TaskPostgreSQLInitTable* filesTable = nullptr;
    TaskPostgreSQLInitTable* dataTable = nullptr;
};
