#pragma once

#include <string>

#include "database/database.h"
#include "dbfiles/dbfiles.h"
#include "messages/tasks/task_write.h"
#include "runtime/iomux.h"

class MessagesStatements;

// Fills an upload buffer, as a put fills a file of the store: the buffer's
// id and key are checked first (no such buffer with that key fails the
// task); then TaskProgress(0) says it takes the next Write, and each Write
// stores one block as a row of files_buffer_data. After the write with
// `last` the task completes. Get() is the buffer id, GetName() its name.
// Reports on the loop; the owner may delete the task inside any callback,
// or while it waits for a Write.
class TaskWriteFileBuffer : public IDbFilesPut, public UDatabase, public UIoExec {
public:
    // statements: where its block statement is prepared, or null (as text).
    TaskWriteFileBuffer(IIoMux* iomux, IDatabase* database, unsigned long long id, const char* key,
                   MessagesStatements* statements = nullptr);
    ~TaskWriteFileBuffer() override;
    void Start(UTask* owner) override;
    unsigned long long Get() override { return id; }
    const char* GetName() override { return name.c_str(); }
    void Write(const unsigned char* data, unsigned int length, bool last) override;

private:
    enum State { NEW, CHECKING, IDLE, WRITING, WRITING_LAST, DONE, FAILED };
    void SetState(State next);
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void DatabaseInsertSQLResult(IDatabase* db, unsigned long long newId) override;
    void IoExec(void* param) override;
    void Written();

    IDatabase* database;
    MessagesStatements* statements;
    IIoMux* iomux;
    unsigned long long id;
    std::string key;
    std::string name;
    State state = NEW;
};

// An upload buffer goes, with what it holds: what an upload that did not
// end has written is never read. Reports on the loop.
class TaskDeleteFileBuffer : public MessagesTaskWrite {
public:
    TaskDeleteFileBuffer(IDatabase* database, unsigned long long id) : MessagesTaskWrite(database, id) {}
    void Start(UTask* owner) override;
};
