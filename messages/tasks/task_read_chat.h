#pragma once

#include <string>
#include <utility>
#include <vector>

#include "database/database.h"
#include "runtime/task.h"

class MessagesTaskRows;

// Reads one chat of a user, newest first, and marks what the user had not
// read yet as read. The chat is the type-1 discussions of the user's own
// topic whose messages notify the partner.
//
// Without noind the messages older than `older` (0: the newest) come one at
// a time: for every row the owner hears TaskProgress(0), reads Row() and
// calls Next(). A page holds `count` messages (0: 20) and, when the last of
// them shares its time with older ones, those too, so that the next page,
// asked with the oldest time of this one, neither repeats nor skips a
// message. With noind nothing is reported: the newest `count` unread
// messages are only marked read.
//
// After the rows every unread message seen is marked read, in as many
// statements as the marks need; none is dropped. A task stopped meanwhile
// (its reader has gone) marks nothing. Completes after the marks; a database
// error fails it. Reports on the loop; the owner may delete the task inside
// either callback.
class TaskReadChat : public ITask, public UTask, public UDatabase {
public:
    TaskReadChat(IDatabase* database, const char* topic, const char* partner, unsigned long long older, bool noind,
                 unsigned count);
    ~TaskReadChat() override;
    void Start(UTask* owner) override;
    void Stop() override;

    // The current row, valid from TaskProgress until Next: columns "id",
    // "author", "dn", "text", "guid", "time" and "attached".
    IDataSet* Row() const;
    void Next();

    // A page without a count holds this many messages.
    static const unsigned DEFAULT_COUNT = 20;

private:
    enum State { IDLE, LOOKING_UP, READING, MARKING, ENDED };
    void SetState(State next);
    void LookedUp(IDataSet* ids);
    void Mark();
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void TaskProgress(ITask* task, unsigned progress) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    IDatabase* database;
    std::string topic;
    std::string partner;
    unsigned long long older;
    bool noind;
    unsigned count;
    State state = IDLE;
    MessagesTaskRows* rows = nullptr;
    // (message, reader) of every unread message seen.
    std::vector<std::pair<unsigned long long, unsigned long long>> unread;
    // Marks already made, and the end of those being made.
    size_t marked = 0;
    size_t marking = 0;
};
