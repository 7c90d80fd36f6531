#pragma once

#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "runtime/iomux.h"

class DbFiles;

// One read of a file: one statement per chunk, each chunk copied out of its
// data set at once so that the connection is free while the user sends it.
// From an offset, or when the final chunk must be recognised, the chunk
// lengths are read first.
class DbFilesGet : public IDbFilesGet, public UDatabase, public UIoExec {
public:
    DbFilesGet(DbFiles* store, unsigned long long id, unsigned int offset, bool finalByProgress);
    ~DbFilesGet() override;
    void Start(UTask* owner) override;
    void Get(const unsigned char*& data, unsigned int& length) override;
    void Read(bool stop) override;

private:
    enum state_t {
        GET_NEW,
        GET_LENGTHS,
        GET_READING,
        GET_HOLDING,
        GET_ENDING,
        GET_DONE,
        GET_FAILED,
    };

    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void IoExec(void* param) override;

    void SetState(state_t next);
    void Lengths(IDataSet* dataSet);
    void Chunk(IDataSet* dataSet);
    void ReadChunk(unsigned long long from);
    void End(state_t final);

    DbFiles* store;
    unsigned long long id;
    unsigned int offset;
    bool finalByProgress;
    state_t state = GET_NEW;
    // The chunk id to read from next, and the last one (0 while unknown).
    unsigned long long next = 0;
    unsigned long long lastChunk = 0;
    // Bytes to drop from the front of the next chunk read.
    unsigned long long cut = 0;
    std::vector<unsigned char> chunk;
};
