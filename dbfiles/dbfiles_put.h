#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "runtime/btree.h"
#include "runtime/iomux.h"

class DbFiles;

// One put: the row is created (or taken over, in own-folder mode) inside a
// transaction, then the chunks follow one insert at a time as the user
// writes them, and the size is written last. In own-folder mode a file put
// sits in the store's tree while it runs, so that a second put of the same
// file is refused instead of mixing its chunks into the first.
class DbFilesPut : public IDbFilesPut, public UDatabase, public UIoExec, public btree {
public:
    struct Key {
        unsigned long long folder;
        const char* name;
    };

    DbFilesPut(DbFiles* store, const char* name, unsigned long long folder, bool isFolder);
    ~DbFilesPut() override;
    void Start(UTask* owner) override;
    unsigned long long Get() override { return id; }
    const char* GetName() override { return name.c_str(); }
    void Write(const unsigned char* data, unsigned int length, bool last) override;
    unsigned long long GetFolder() const { return folder; }

    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

private:
    enum state_t {
        PUT_NEW,
        PUT_INSERT,
        PUT_DELETE_OLD,
        PUT_IDLE,
        PUT_WRITING,
        PUT_WRITING_LAST,
        PUT_FINISHING,
        PUT_DONE,
        PUT_FAILED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseEndTransactionResult(IDatabase* db) override;
    void IoExec(void* param) override;

    void SetState(state_t next);
    void Inserted(IDataSet* dataSet);
    void ChunkWritten();
    void WriteSize(long long size);
    void End(state_t final);
    unsigned LogId() const;

    DbFiles* store;
    std::string name;
    unsigned long long folder;
    bool isFolder;
    state_t state = PUT_NEW;
    bool inTree = false;
    unsigned long long id = 0;
    unsigned long long total = 0;
    std::vector<unsigned char> crypted;
};
