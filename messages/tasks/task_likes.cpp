#include "messages/tasks/task_likes.h"

TaskLike::TaskLike(IDatabase* database, unsigned long long id, const char* sip, bool like)
    : database(database), id(id), sip(sip ? sip : ""), like(like)
{
}

void TaskLike::Start(UTask* owner)
{
    user = owner;
    if (like)
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "INSERT INTO message_likes (message,object) VALUES(%llu,(SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s)))",
                          id, sip.c_str());
    else
        database->ExecSQL(this, DB_EXEC_FETCH_ALL,
                          "DELETE FROM message_likes WHERE message=%llu AND object IN (SELECT id FROM objects WHERE "
                          "LOWER(sip)=LOWER(%s))",
                          id, sip.c_str());
}

void TaskLike::DatabaseError(IDatabase*, db_error_t)
{
    if (like) Complete();
    else Failed();
}

void TaskLike::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    Complete();
}

void TaskLikes::Start(UTask* owner)
{
    user = owner;
    Query("SELECT objects.sip AS sip, time FROM message_likes JOIN objects ON message_likes.object=objects.id WHERE "
          "message_likes.message=%llu ORDER BY time DESC LIMIT %u",
          id, pageSize);
}
