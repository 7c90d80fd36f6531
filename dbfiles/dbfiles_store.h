#pragma once

#include "dbfiles/dbfiles.h"
#include "dbfiles/dbfiles_statements.h"

class btree;
class DbFilesCipher;
class DbFilesPut;
class IPreparedStatement;

// The store: the shared state of its tasks. The tasks borrow the loop, the
// log, the database, the cipher and the prepared statements from it.
class DbFiles : public IDbFiles {
public:
    DbFiles(IIoMux* iomux, IInstanceLog* log, const unsigned char* key);
    ~DbFiles() override;

    ITask* Start(UTask* user, IDatabase* database, const char* folderDefinition) override;
    IDbFilesPut* Put(UTask* user, const char* name, unsigned long long folder, bool isFolder) override;
    IDbFilesGet* Get(UTask* user, unsigned long long id, unsigned int offset, bool finalByProgress) override;
    ITask* Del(UTask* user, unsigned long long id) override;
    ITask* Move(UTask* user, unsigned long long id, const char* name, unsigned long long folder) override;
    IDbFilesList* List(UTask* user, unsigned long long folder, unsigned long long limit) override;
    IDbFilesPathInfo* PathInfo(UTask* user, const char* path) override;

    IIoMux* GetIoMux() const { return iomux; }
    IInstanceLog* GetLog() const { return log; }
    IDatabase* GetDatabase() const { return database; }
    bool OwnFolders() const { return ownFolders; }
    // Null without encryption.
    DbFilesCipher* GetCipher() const { return cipher; }
    IPreparedStatement* Statement(dbfiles_statement_t index) const;
    // The start task hands over each statement as the server has prepared it.
    void SetStatement(unsigned index, IPreparedStatement* statement);

    // The tree of file puts in progress, by folder and name: false when a put
    // of the same file is in it already.
    bool EnterPut(DbFilesPut* put);
    void LeavePut(DbFilesPut* put);

private:
    IIoMux* iomux;
    IInstanceLog* log;
    DbFilesCipher* cipher = nullptr;
    IDatabase* database = nullptr;
    bool ownFolders = true;
    IPreparedStatement* statements[DBFILES_STATEMENTS] = {};
    btree* puts = nullptr;
};
