#include "messages/tasks/task_unread_count.h"

#include <openssl/sha.h>

#include <string>
#include <vector>

#include "database/sql_params.h"
#include "database/sql_text.h"
#include "messages/filter_expression.h"
#include "runtime/assert.h"

TaskUnreadCount::TaskUnreadCount(IDatabase* database, const char* sip, const MessageFilter* filter, unsigned type,
                                 const MessagesReadableTopics& readable)
    : database(database), sip(sip ? sip : ""), filter(filter), type(type), readable(readable)
{
}

const char* const UNREAD_RECENT =
    "discussion.time > (EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) - (60*60*24*30)) * 1000";

namespace {

bool NamesAuthors(const MessageFilter& f)
{
    if (!f.authors.Empty()) return true;
    for (const MessageFilter* n = f.filters; n; n = n->next)
        if (NamesAuthors(*n)) return true;
    return false;
}

}  // namespace

size_t TaskUnreadCount::Statement(char* buf, size_t size, SqlParams* params) const
{
    bool F = filter && !filter->FilterEmpty();
    SqlText sql(buf, size, params);
    // The highest message id of the statement's snapshot tells which posts
    // it holds, the snapshot which read marks (MessagesFilterRead::Counted).
    sql.Print("SELECT COUNT(*) AS count,(SELECT COALESCE(MAX(id),0) FROM messages) AS seen,pg_current_snapshot()::text "
              "AS snapshot FROM discussions AS discussion JOIN objects AS topic ON discussion.topic = topic.id JOIN "
              "messages m ON m.adds_to = discussion.id");
    // Only a filter on authors needs their names.
    if (F && NamesAuthors(*filter)) sql.Print(" JOIN objects AS author ON m.author = author.id");
    sql.Print(" WHERE ");
    if (type) sql.Print("type=%u AND", type);
    else sql.Print("type IS NULL AND");
    sql.Print(" m.author<>(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)) AND ", sip.c_str());
    if (type) {
        // Chats count the few messages that notify the person, among every
        // chat of the instance: a probe each costs less than a range of marks.
        sql.Print("NOT EXISTS (SELECT 1 FROM message_read WHERE message=m.id AND object=(SELECT id FROM objects WHERE "
                  "LOWER(sip)=LOWER(%s)))",
                  sip.c_str());
    }
    else {
        // A discussion's root is its first message, so the person's read
        // marks below the smallest root id of the recent discussions cannot
        // concern them: the marks from there on are few enough to be hashed
        // once, instead of one probe per message. Each root is looked up on
        // its own.
        sql.Print("m.id NOT IN (SELECT message FROM message_read WHERE object=(SELECT id FROM objects WHERE "
                  "LOWER(sip)=LOWER(%s)) AND message>=(SELECT COALESCE(MIN((SELECT MIN(x.id) FROM messages x WHERE "
                  "x.adds_to=discussion.id AND x.replies_to IS NULL)),0) FROM discussions AS discussion WHERE type IS "
                  "NULL AND %q",
                  sip.c_str(), UNREAD_RECENT);
        if (!readable.All()) {
            sql.Print(" AND ");
            readable.Print(sql, "discussion.topic");
        }
        sql.Print("))");
    }
    sql.Print(" AND %q", UNREAD_RECENT);
    if (!readable.All()) {
        sql.Print(" AND ");
        readable.Print(sql, "discussion.topic");
    }
    if (F) {
        sql.Print(" AND (");
        // The closing parenthesis needs its byte.
        size_t room = sql.Room() > 2 ? sql.Room() - 2 : 0;
        sql.Advance(filter->WriteFilters(sql.End(), (int)room, params));
        sql.Print(")");
    }
    return sql.Full() ? 0 : sql.Length();
}

std::string TaskUnreadCount::Key() const
{
    std::vector<char> sql(StatementSize());
    SqlParams params;
    Statement(sql.data(), sql.size(), &params);
    std::string text = params.Render(sql.data());
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof(digest));
}

void TaskUnreadCount::Start(UTask* owner)
{
    user = owner;
    std::vector<char> sql(StatementSize());
    SqlParams params;
    size_t len = Statement(sql.data(), sql.size(), &params);
    ASSERT(len, "TaskUnreadCount statement does not fit");
    database->ExecSQLParams(this, DB_EXEC_FETCH_ALL, sql.data(), params);
}

void TaskUnreadCount::DatabaseError(IDatabase*, db_error_t)
{
    Failed();
}

void TaskUnreadCount::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    bool counted = dataSet && !dataSet->Eot();
    if (counted) {
        count = dataSet->GetULong64Value("count");
        seen = dataSet->GetULong64Value("seen");
        snapshot.Parse(dataSet->GetStringValue("snapshot"));
    }
    delete dataSet;
    if (counted) Complete();
    else Failed();
}
