#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "runtime/task.h"

// Brings an enumerated type up to its declaration: creates it with all
// declared values when missing, otherwise appends the declared values it
// lacks at its end. Values are never removed or reordered.
//
// Reports on the loop: TaskComplete when the type is up to date, TaskFailed
// on a database error. The owner may delete the task inside either callback.
class TaskPostgreSQLInitEnum : public ITask, public UDatabase {
public:
    TaskPostgreSQLInitEnum(IDatabase* database, const char* type);
    void AddValue(const char* value);
    void Start(UTask* owner) override;

private:
    enum state_t {
        STATE_IDLE,
        STATE_CHECK_TYPE,
        STATE_CREATE_TYPE,
        STATE_READ_VALUES,
        STATE_ADD_VALUES,
        STATE_ENDED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    void SetState(state_t next);
    void CreateEnum();
    std::vector<bool> PresentValues(IDataSet* existing);
    void AddMissingValues(const std::vector<bool>& present);
    void Finish();

    IDatabase* database;
    std::string type;
    std::vector<std::string> values;
    state_t state = STATE_IDLE;
    unsigned outstanding = 0;
};
