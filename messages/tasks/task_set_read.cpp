#include "messages/tasks/task_set_read.h"

#include <vector>

#include "database/sql_params.h"
#include "database/sql_text.h"

TaskSetRead::TaskSetRead(IDatabase* database, unsigned long long id, const char* sip,
                         const MessagesReadableTopics& readable)
    : database(database), id(id), sip(sip ? sip : ""), readable(readable)
{
}

void TaskSetRead::Start(UTask* owner)
{
    user = owner;
    std::vector<char> shape(readable.Length() + 512);
    SqlParams params;
    SqlText sql(shape.data(), shape.size(), &params);
    // Own messages are never unread, so they are never marked.
    sql.Print("INSERT INTO message_read (message,object) SELECT %llu,(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)) "
              "FROM messages WHERE id=%llu AND author<>(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))",
              id, sip.c_str(), id, sip.c_str());
    if (!readable.All()) {
        sql.Print(" AND adds_to IN (SELECT id FROM discussions WHERE ");
        readable.Print(sql, "topic");
        sql.Print(")");
    }
    // The mark's transaction tells the unread counts whether they hold it.
    sql.Print(" RETURNING pg_current_xact_id()::text AS xid");
    database->ExecSQLParams(this, DB_EXEC_FETCH_ALL, shape.data(), params);
}

void TaskSetRead::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskSetRead::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    bool marked = dataSet && !dataSet->Eot();
    if (marked) xid = dataSet->GetULong64Value("xid");
    delete dataSet;
    if (marked) Complete();
    else Failed();
}

TaskSetReadGetContent::TaskSetReadGetContent(IDatabase* database, unsigned long long id, const char* sip,
                                             const MessagesReadableTopics& readable)
    : MessageContent(0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr), mark(database, id, sip, readable),
      message(database, id, this), notified(database, id, &notifications), tagged(database, id, &tags)
{
}

TaskSetReadGetContent::~TaskSetReadGetContent() = default;

void TaskSetReadGetContent::Start(UTask* owner)
{
    user = owner;
    pending = 4;
    mark.Start(this);
    message.Start(this);
    notified.Start(this);
    tagged.Start(this);
}

void TaskSetReadGetContent::TaskComplete(ITask* task)
{
    // A message deleted right before the mark leaves nothing to read.
    if (task == &message && !message.Found()) failed = true;
    if (--pending) return;
    if (failed) Failed();
    else Complete();
}

void TaskSetReadGetContent::TaskFailed(ITask* task)
{
    failed = true;
    TaskComplete(task);
}
