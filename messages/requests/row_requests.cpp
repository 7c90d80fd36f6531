#include "messages/requests/row_requests.h"

#include "database/data_set.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_rows.h"
#include "messages/tasks/task_write.h"

ReadRows::ReadRows(MessagesRequestContext* context, MessagesTaskRows* rows, const char* rowMt, const char* resultMt)
    : MessagesRequest(context), rows(rows), rowMt(rowMt), resultMt(resultMt)
{
}

ReadRows::~ReadRows()
{
    delete rows;
}

void ReadRows::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    rows->Start(this);
}

void ReadRows::TaskProgress(ITask*, unsigned)
{
    // Nobody reads the rest once the client has gone.
    if (context->RequestSessionClosed()) {
        rows->Stop();
        return rows->Next();
    }
    MessagesReply row(rowMt, Src());
    Describe(rows->Row(), row);
    SendRow(row.Json());
    rows->Next();
}

void ReadRows::Done(ITask*, bool)
{
    MessagesReply reply(resultMt, Src());
    Reply(reply.Json());
}

WriteRow::WriteRow(MessagesRequestContext* context, MessagesTaskWrite* write, bool refused, const char* resultMt,
                   bool zeroToo)
    : MessagesRequest(context), write(write), refused(refused), resultMt(resultMt), zeroToo(zeroToo)
{
}

WriteRow::~WriteRow()
{
    delete write;
}

void WriteRow::Begin()
{
    if (refused || !Database()) return Done(nullptr, true);
    Working();
    write->Start(this);
}

void WriteRow::Done(ITask* task, bool failed)
{
    if (task && !failed) Written();
    MessagesReply reply(resultMt, Src());
    if (write->Id() || zeroToo) reply.Ulong64("id", write->Id());
    Reply(reply.Json());
}
