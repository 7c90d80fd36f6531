#include "messages/tasks/task_likes.h"

#include <vector>

#include "database/sql_params.h"
#include "database/sql_text.h"

namespace {
// Only for a message in a topic of the readable ones, which follow.
const char* const LIKE_READABLE =
    "INSERT INTO message_likes (message,object) SELECT %llu,(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)) "
    "WHERE EXISTS (SELECT 1 FROM messages rm JOIN discussions rd ON rd.id=rm.adds_to WHERE rm.id=%llu AND ";
const char* const LIKES_READABLE =
    "SELECT objects.sip AS sip, time FROM message_likes JOIN objects ON message_likes.object=objects.id WHERE "
    "message_likes.message=%llu AND EXISTS (SELECT 1 FROM messages rm JOIN discussions rd ON rd.id=rm.adds_to WHERE "
    "rm.id=%llu AND %q) ORDER BY time DESC LIMIT %u";
}  // namespace

TaskLike::TaskLike(IDatabase* database, unsigned long long id, const char* sip, const MessagesReadableTopics& readable,
                   bool like)
    : database(database), id(id), sip(sip ? sip : ""), readable(readable), like(like)
{
}

void TaskLike::Start(UTask* owner)
{
    user = owner;
    if (like && readable.All()) {
        ExecSQLShaped(database, this, DB_EXEC_FETCH_ALL,
                      "INSERT INTO message_likes (message,object) VALUES(%llu,(SELECT id FROM objects WHERE "
                      "LOWER(sip)=LOWER(%s)))",
                      id, sip.c_str());
    }
    else if (like) {
        std::vector<char> shape(readable.Length() + 512);
        SqlParams params;
        SqlText sql(shape.data(), shape.size(), &params);
        sql.Print(LIKE_READABLE, id, sip.c_str(), id);
        readable.Print(sql, "rd.topic");
        sql.Print(")");
        database->ExecSQLParams(this, DB_EXEC_FETCH_ALL, shape.data(), params);
    }
    else {
        ExecSQLShaped(database, this, DB_EXEC_FETCH_ALL,
                      "DELETE FROM message_likes WHERE message=%llu AND object IN (SELECT id FROM objects WHERE "
                      "LOWER(sip)=LOWER(%s))",
                      id, sip.c_str());
    }
}

void TaskLike::DatabaseError(IDatabase*, db_error_t)
{
    if (like) Complete();
    else Failed();
}

void TaskLike::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    refused = like && (!dataSet || dataSet->GetAffectedRows() == 0);
    delete dataSet;
    Complete();
}

void TaskLikes::Start(UTask* owner)
{
    user = owner;
    if (readable.All())
        return Query("SELECT objects.sip AS sip, time FROM message_likes JOIN objects ON message_likes.object=objects.id "
                     "WHERE message_likes.message=%llu ORDER BY time DESC LIMIT %u",
                     id, pageSize);
    Query(LIKES_READABLE, id, id, readable.Condition("rd.topic").c_str(), pageSize);
}
