#include "messages/tasks/task_unread_count.h"

#include <vector>

#include "database/sql_text.h"
#include "messages/filter_expression.h"
#include "runtime/assert.h"

TaskUnreadCount::TaskUnreadCount(IDatabase* database, const char* sip, const MessageFilter* filter, unsigned type,
                                 const MessagesReadableTopics& readable)
    : database(database), sip(sip ? sip : ""), filter(filter), type(type), readable(readable)
{
}

size_t TaskUnreadCount::Statement(char* buf, size_t size) const
{
    SqlText sql(buf, size);
    sql.Print("SELECT COUNT(*) AS count FROM messages m JOIN objects AS author ON m.author = author.id JOIN "
              "discussions AS discussion ON m.adds_to = discussion.id JOIN objects AS topic ON discussion.topic = "
              "topic.id WHERE ");
    if (type) sql.Print("type=%u AND", type);
    else sql.Print("type IS NULL AND");
    sql.Print(" author<>(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)) AND NOT EXISTS (SELECT * from "
              "message_read WHERE message=m.id AND object=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))) AND "
              "discussion.time > (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) - (60*60*24*30)) * 1000",
              sip.c_str(), sip.c_str());
    if (!readable.All()) {
        sql.Print(" AND ");
        readable.Print(sql, "discussion.topic");
    }
    if (filter && !filter->FilterEmpty()) {
        sql.Print(" AND (");
        // The closing parenthesis needs its byte.
        size_t room = sql.Room() > 2 ? sql.Room() - 2 : 0;
        sql.Advance(filter->WriteFilters(sql.End(), (int)room));
        sql.Print(")");
    }
    return sql.Full() ? 0 : sql.Length();
}

void TaskUnreadCount::Start(UTask* owner)
{
    user = owner;
    std::vector<char> sql(StatementSize());
    size_t len = Statement(sql.data(), sql.size());
    ASSERT(len, "TaskUnreadCount statement does not fit");
    database->ExecSQL(this, DB_EXEC_FETCH_ALL, "%q", sql.data());
}

void TaskUnreadCount::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskUnreadCount::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    bool counted = dataSet && !dataSet->Eot();
    if (counted) count = dataSet->GetULong64Value("count");
    delete dataSet;
    if (counted) Complete();
    else Failed();
}
