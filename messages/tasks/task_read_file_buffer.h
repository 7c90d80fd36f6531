#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "runtime/iomux.h"

class MessagesStatements;

// Reads an upload buffer chunk by chunk, as a get reads a file of the store.
// Use: create it with the buffer's id and key (as they stand in the buffer's
// URL "/buffer/ID/KEY/NAME"), Start(user). No buffer with that id and key
// fails the task before any chunk. Each TaskProgress(0) announces a chunk:
// take it with Get(data, length) (valid until the next Read or the task's
// deletion; at most 64000 bytes when written by our uploads) and ask for the
// next with Read(false); Read(true) ends the reading. TaskComplete: no
// further chunk. Name() is the buffer's name once the first chunk (or the
// completion) has been reported.
// Reports on the loop; the owner may delete the task inside any callback,
// or while it holds a chunk. A buffer written while it is read is read as
// far as it has got; uploads that did not end take their buffer with them.
class TaskReadFileBuffer : public IDbFilesGet, public UDatabase, public UIoExec {
public:
    // statements: where its chunk statement is prepared, or null (as text).
    TaskReadFileBuffer(IIoMux* iomux, IDatabase* database, unsigned long long id, const char* key,
                       MessagesStatements* statements = nullptr);
    ~TaskReadFileBuffer() override;
    void Start(UTask* owner) override;
    void Get(const unsigned char*& data, unsigned int& length) override;
    void Read(bool stop) override;
    const std::string& Name() const { return name; }

private:
    enum State { NEW, CHECKING, READING, HOLDING, ENDING, DONE, FAILED };
    void SetState(State next);
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void IoExec(void* param) override;
    void Checked(IDataSet* dataSet);
    void Chunk(IDataSet* dataSet);
    void ReadNext();

    IIoMux* iomux;
    IDatabase* database;
    MessagesStatements* statements;
    unsigned long long id;
    std::string key;
    std::string name;
    State state = NEW;
    // The row id of the last chunk read; the next one follows it.
    unsigned long long last = 0;
    std::vector<unsigned char> chunk;
};
