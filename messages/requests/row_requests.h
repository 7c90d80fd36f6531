#pragma once

#include "messages/requests/messages_request.h"

class IDataSet;
class MessagesReply;
class MessagesTaskRows;
class MessagesTaskWrite;

// A listing, for every request that lists rows: each row of its task goes
// out at once as one message rowMt, then the reply resultMt, also after a
// database error (the rows that came stand).
class ReadRows : public MessagesRequest {
public:
    ~ReadRows() override;
    void Begin() override;

protected:
    // Takes the task, which starts in Begin.
    ReadRows(MessagesRequestContext* context, MessagesTaskRows* rows, const char* rowMt, const char* resultMt);
    // The row's members after "mt" and "src".
    virtual void Describe(IDataSet* row, MessagesReply& out) = 0;

private:
    void TaskProgress(ITask* task, unsigned progress) override;
    void Done(ITask* task, bool failed) override;

    MessagesTaskRows* rows;
    const char* rowMt;
    const char* resultMt;
};

// A change of one row: the reply resultMt carries the task's id, left out
// when it is 0 unless zeroToo. A refused request writes nothing and replies
// with the id it was given.
class WriteRow : public MessagesRequest {
public:
    ~WriteRow() override;
    void Begin() override;

protected:
    // Takes the task, which starts in Begin unless refused.
    WriteRow(MessagesRequestContext* context, MessagesTaskWrite* write, bool refused, const char* resultMt,
             bool zeroToo);
    // The task has ended without failure, and the client is still there.
    virtual void Written() {}

    MessagesTaskWrite* const write;

private:
    void Done(ITask* task, bool failed) override;

    bool refused;
    const char* resultMt;
    bool zeroToo;
};
