#pragma once

#include <deque>
#include <string>

#include "database/database.h"
#include "runtime/task.h"

struct PostgreSQLTableColumn {
    std::string name;
    std::string definition;  // type and column constraints
    bool exists = false;
};

struct PostgreSQLTableConstraint {
    std::string name;
    std::string definition;
    bool exists = false;
};

struct PostgreSQLTableIndex {
    std::string name;
    std::string columns;  // column expressions, e.g. "LOWER(sip)" or "time,topic"
    bool unique = false;
    std::string method = "btree";
    std::string where;  // the rows a partial index covers, empty for all
    bool exists = false;
};

// Brings one table up to its declaration, only ever adding: creates the table
// when missing, then adds the declared columns, constraints and indexes that
// the catalogue does not list. Existing columns are never altered, and an
// index counts as existing when any index of the schema has its name.
//
// Definitions and column expressions are SQL fragments written into the
// statements as they are; the statements are then formatted by the database,
// so a '%' in a fragment is written "%%".
//
// Reports on the loop: TaskComplete once everything is in place, TaskFailed
// on the first database error (what ran before it stays). The owner may
// delete the task inside either callback.
class TaskPostgreSQLInitTable : public ITask, public UDatabase {
public:
    TaskPostgreSQLInitTable(IDatabase* database, const char* table);
    void AddColumn(const char* name, const char* definition);
    void AddConstraint(const char* name, const char* definition);
    void AddIndex(const char* name, const char* columns, bool unique);
    // An index of another access method, such as "gin".
    void AddIndex(const char* name, const char* columns, const char* method);
    // A btree index of only the rows for which `where` holds.
    void AddPartialIndex(const char* name, const char* columns, const char* where);
    void Start(UTask* owner) override;

private:
    enum state_t {
        STATE_IDLE = 0,
        STATE_CREATE = 1,
        STATE_READ_COLUMNS = 2,
        STATE_ADD_COLUMNS = 3,
        STATE_READ_CONSTRAINTS = 4,
        STATE_ADD_CONSTRAINTS = 5,
        STATE_READ_INDEXES = 6,
        STATE_ADD_INDEXES = 7,
        STATE_ENDED = 8,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    void SetState(state_t next);
    void ReadColumns();
    void AddMissingColumns();
    void ReadConstraints();
    void AddMissingConstraints();
    void ReadIndexes();
    void AddMissingIndexes();
    void Finish();
    void Exec(const char* sql);

    IDatabase* database;
    std::string table;
    state_t state = STATE_IDLE;
    unsigned outstanding = 0;
    std::deque<PostgreSQLTableColumn> columns;
    std::deque<PostgreSQLTableConstraint> constraints;
    std::deque<PostgreSQLTableIndex> indexes;
};
