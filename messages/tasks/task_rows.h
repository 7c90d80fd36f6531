#pragma once

#include "database/database.h"
#include "runtime/task.h"

// A task that streams the rows of one statement to its owner, one at a
// time, without holding the result: for every row the owner hears
// TaskProgress(0), reads Row() and calls Next(); after the last row the task
// completes; a database error fails it (rows already handed out stand).
// Reports on the loop; the owner may delete the task inside either callback.
// A whole result (QueryParams with `whole`) is read at once and handed out
// in one go: its owner takes each next row inside TaskProgress.
class MessagesTaskRows : public ITask, public UDatabase {
public:
    ~MessagesTaskRows() override;
    // After TaskProgress: the next row. With a stop requested the rest is
    // dropped and the task completes.
    void Next();
    // The current row, valid from TaskProgress until Next.
    IDataSet* Row() const { return row; }

protected:
    explicit MessagesTaskRows(IDatabase* database) : database(database) {}
    // For Start: runs the statement, formatted as by ExecSQL.
    void Query(const char* format, ...);
    // A statement as its shape and values (IDatabase::ExecSQLParams); a
    // whole result leaves the connection free while its rows go out.
    void QueryParams(const char* shape, const SqlParams& params, bool whole = false);

    IDatabase* database;

private:
    enum State { IDLE, READING, ROW, ENDED };
    void SetState(State next);
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;
    void HandOutWhole();

    State state = IDLE;
    IDataSet* row = nullptr;
    // A whole result is ours until the task ends; a single-row one is the
    // database's while its next row is read.
    bool whole = false;
    // While a row of a whole result is with the owner: where to note that it
    // deleted the task, and whether it has taken the next.
    bool* deleted = nullptr;
    bool nextTaken = false;
};
