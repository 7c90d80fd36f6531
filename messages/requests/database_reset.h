#pragma once

#include "messages/requests/messages_request.h"

class TaskDatabaseInit;
class TaskDatabaseReset;

// "DatabaseReset": drops the tables and declares them again, empty. The
// tables are declared again also when the drop fails or the client has
// gone; the reply waits for that.
class DatabaseReset : public MessagesRequest {
public:
    using MessagesRequest::MessagesRequest;
    ~DatabaseReset() override;
    void Begin() override;

private:
    // The tables come back also after the client has gone: the reset's end
    // is not a request's end.
    void TaskComplete(ITask* task) override { Ended(task); }
    void TaskFailed(ITask* task) override { Ended(task); }
    void Ended(ITask* task);

    TaskDatabaseReset* reset = nullptr;
    TaskDatabaseInit* init = nullptr;
};
