#include "messages/tasks/task_read_messages.h"

#include <vector>

#include "database/sql_text.h"
#include "messages/filter_expression.h"
#include "runtime/assert.h"

namespace {

const size_t STATEMENT_SIZE = 10000;
// What may follow the filter: paging, the liked condition and the order.
const size_t TAIL_ROOM = 512;

const char* const COLUMNS =
    "SELECT\nm.id AS id,adds_to,replies_to,author.sip AS author,author.dn AS dn,topic.sip AS topic,topic.dn AS tdn, "
    "text,m.guid AS guid,m.time,(SELECT COUNT(*)-1 FROM messages d WHERE m.adds_to=d.adds_to) AS rcount,(SELECT "
    "COUNT(*) from message_likes l WHERE l.message=m.id) AS likes,(SELECT MAX(time) from message_likes l WHERE "
    "l.message=m.id) AS ltime,discussion.time AS rtime,m.attached AS attached";
const char* const USER_COLUMNS =
    ", (SELECT time from message_read WHERE message=m.id AND object=(SELECT id FROM objects WHERE "
    "LOWER(sip)=LOWER(%s))) AS read,EXISTS (SELECT 1 from message_likes l WHERE l.message=m.id AND "
    "l.object=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))) AS like,(SELECT COUNT(*) FROM messages r WHERE "
    "r.author!=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)) AND m.adds_to=r.adds_to AND NOT EXISTS (SELECT 1 "
    "from message_read WHERE message=r.id AND object=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)))) AS unread";
const char* const TABLES =
    " FROM messages m JOIN objects AS author ON m.author = author.id JOIN discussions AS discussion ON "
    "m.adds_to=discussion.id JOIN objects AS topic ON discussion.topic = topic.id";
const char* const LATEST_LIKE = "(SELECT MAX(time) from message_likes l WHERE l.message=m.id)";

}  // namespace

TaskReadMessages::TaskReadMessages(IDatabase* database, int count, unsigned long long addsTo, bool discussion,
                                   bool liked, const char* user, const MessageFilter* filter,
                                   unsigned long long timestamp, unsigned long long lastId,
                                   const MessagesReadableTopics& readable)
    : MessagesTaskRows(database), count(count), addsTo(addsTo), discussion(discussion), liked(liked),
      reader(user ? user : ""), filter(filter), timestamp(timestamp), lastId(lastId), readable(readable)
{
}

size_t TaskReadMessages::StatementSize() const
{
    return STATEMENT_SIZE + readable.Length();
}

void TaskReadMessages::PrintSelect(SqlText& sql) const
{
    const char* u = reader.c_str();
    sql.Print("%q", COLUMNS);
    if (!reader.empty()) sql.Print(USER_COLUMNS, u, u, u, u);
    sql.Print("%q", TABLES);
}

size_t TaskReadMessages::Statement(char* buf, size_t size) const
{
    SqlText sql(buf, size);
    PrintSelect(sql);

    bool F = filter && !filter->FilterEmpty(), A = addsTo != 0, D = discussion, L = liked, T = timestamp != 0;
    const char* joiner = " WHERE ";
    auto condition = [&] {
        sql.Print("%q", joiner);
        joiner = " AND ";
    };
    if (!readable.All()) {
        condition();
        readable.Print(sql, "discussion.topic");
    }
    if (F || A || D) {
        condition();
        sql.Print("(");
        if (A) sql.Print("adds_to = %llu AND replies_to IS NOT NULL", addsTo);
        else if (D) sql.Print("replies_to IS NULL");
        if (F) {
            if (A || D) sql.Print(" AND ");
            // The filter gets the room that is left but for what follows it;
            // it writes a narrower condition rather than none when it does not fit.
            size_t room = sql.Room() > TAIL_ROOM ? sql.Room() - TAIL_ROOM : 0;
            sql.Advance(filter->WriteFilters(sql.End(), (int)room));
        }
        sql.Print(")");
        if (!T) sql.Print(" AND discussion.time IS NOT NULL");
    }
    if (T) {
        condition();
        if (A)
            sql.Print("(m.time < %llu OR (m.time = %llu AND m.id < %llu))", timestamp, timestamp, lastId);
        else if (L)
            sql.Print("(%q < %llu OR (%q = %llu AND m.id < %llu))", LATEST_LIKE, timestamp, LATEST_LIKE, timestamp,
                      lastId);
        else if (D)
            sql.Print("(discussion.time < %llu OR (discussion.time = %llu AND discussion.id < %llu))", timestamp,
                      timestamp, lastId);
        else
            // A discussion that became active since the last page has moved
            // above it; its new messages reach the client as updates.
            sql.Print("(discussion.time < %llu OR (discussion.time = %llu AND (m.adds_to,m.time,m.id) < (SELECT "
                      "x.adds_to,x.time,x.id FROM messages x WHERE x.id=%llu)))",
                      timestamp, timestamp, lastId);
    }
    if (L) {
        condition();
        sql.Print("EXISTS (SELECT 1 FROM message_likes l WHERE l.message=m.id)");
    }
    // The formatter writes %u signed; a negative count is a very large limit.
    unsigned long long limit = (unsigned)count;
    if (A) sql.Print(" ORDER BY m.time DESC,m.id DESC LIMIT %llu", limit);
    else if (L) sql.Print(" ORDER BY ltime DESC,m.id DESC LIMIT %llu", limit);
    else if (D) sql.Print(" ORDER BY rtime DESC,adds_to DESC LIMIT %llu", limit);
    else sql.Print(" ORDER BY rtime DESC,adds_to DESC,m.time DESC,m.id DESC LIMIT %llu", limit);
    return sql.Full() ? 0 : sql.Length();
}

void TaskReadMessages::Start(UTask* owner)
{
    user = owner;
    std::vector<char> sql(StatementSize());
    size_t len = Statement(sql.data(), sql.size());
    // Every part but the filter has a bounded length, and the filter writes
    // into the room left: the statement always fits.
    ASSERT(len, "TaskReadMessages statement does not fit");
    Query("%q", sql.data());
}

