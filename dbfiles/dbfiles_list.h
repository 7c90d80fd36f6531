#pragma once

#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "dbfiles/dbfiles_row.h"
#include "runtime/iomux.h"

class DbFiles;

// The rows of a folder, read in one result and copied out, so that the
// connection is not held while the user walks them at its own pace.
class DbFilesList : public IDbFilesList, public UDatabase, public UIoExec {
public:
    DbFilesList(DbFiles* store, unsigned long long folder, unsigned long long limit);
    ~DbFilesList() override;
    void Start(UTask* owner) override;
    bool Get(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
             unsigned long long* created, unsigned long long* modified) override;
    void Next() override;

private:
    enum state_t {
        LIST_NEW,
        LIST_QUERY,
        LIST_ROW,
        LIST_NEXT,
        LIST_DONE,
        LIST_FAILED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void IoExec(void* param) override;

    void SetState(state_t next);
    void ShowRow();

    DbFiles* store;
    unsigned long long folder;
    unsigned long long limit;
    state_t state = LIST_NEW;
    std::vector<DbFilesRow> rows;
    size_t current = 0;
};
