#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "dbfiles/dbfiles_row.h"
#include "dbfiles/dbfiles_statements.h"

class DbFiles;

// Resolves a path one component at a time from the root folder. Empty
// components ("/a//b") are skipped; a path without any names resolves to the
// root row itself.
class DbFilesPathInfo : public IDbFilesPathInfo, public UDatabase {
public:
    DbFilesPathInfo(DbFiles* store, const char* path);
    ~DbFilesPathInfo() override;
    void Start(UTask* owner) override;
    bool Get(unsigned long long& id, const char*& name, unsigned int& length, bool& isFolder,
             unsigned long long* created, unsigned long long* modified) override;
    void GetFailed(unsigned long long& folder, bool& isFolder, const char*& path) override;

private:
    enum state_t {
        PATH_NEW,
        PATH_LOOKUP,
        PATH_DONE,
        PATH_FAILED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    void SetState(state_t next);
    void Lookup();
    void End(state_t final);

    DbFiles* store;
    std::string path;
    std::vector<std::string> components;
    size_t current = 0;
    state_t state = PATH_NEW;
    // The last row resolved on the way, and what is left of the path behind it.
    unsigned long long reached = DBFILES_ROOT_FOLDER;
    bool reachedIsFolder = true;
    std::string rest;
    bool found = false;
    DbFilesRow row;
};
