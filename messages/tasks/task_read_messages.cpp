#include "messages/tasks/task_read_messages.h"

#include <stdio.h>

#include <vector>

#include "database/sql_params.h"
#include "database/sql_text.h"
#include "messages/filter_expression.h"
#include "runtime/assert.h"

namespace {

const size_t STATEMENT_SIZE = 12000;
// What may follow the filter: paging, the liked condition, the order and
// the part of the statement after the page (PrintPageEnd).
const size_t TAIL_ROOM = 2560;
// The largest page read as one result; the web client asks for 40.
const int WHOLE_PAGE = 500;

// The person, looked up once for the whole statement.
const char* const READER = "WITH u AS (SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s)),";
// The page is chosen first, and what is counted per row or per discussion
// is computed for its rows alone.
const char* const PAGE =
    " page AS MATERIALIZED (SELECT\nm.id AS id,m.adds_to AS adds_to,m.replies_to AS replies_to,author.sip AS "
    "author,author.dn AS dn,topic.sip AS topic,topic.dn AS tdn,m.text AS text,m.guid AS guid,m.time AS time,"
    "discussion.time AS rtime,m.attached AS attached";
const char* const TABLES =
    " FROM messages m JOIN objects AS author ON m.author = author.id JOIN discussions AS discussion ON "
    "m.adds_to=discussion.id JOIN objects AS topic ON discussion.topic = topic.id";
// The discussion list walks discussions and looks up each one's root by
// its own index; joined as a set, the planner reads every root of the
// database to find a page of them.
const char* const DISCUSSION_TABLES =
    " FROM discussions AS discussion CROSS JOIN LATERAL (SELECT * FROM messages r WHERE r.adds_to=discussion.id AND "
    "r.replies_to IS NULL LIMIT 1) m JOIN objects AS author ON m.author = author.id JOIN objects AS topic ON "
    "discussion.topic = topic.id";
const char* const LATEST_LIKE = "(SELECT MAX(time) from message_likes l WHERE l.message=m.id)";
// The replies of each discussion of the page, counted in one pass over the
// discussions' messages, for pages where several rows share a discussion.
const char* const STATS = "),stats AS (SELECT r.adds_to AS adds_to,COUNT(*)-1 AS rcount";
// Where each row is a discussion of its own, its replies are counted beside
// it: the planner then walks each discussion's index entries once instead of
// hashing them all into groups: about a sixth less time for a discussion list.
const char* const ROW_STATS = " CROSS JOIN LATERAL (SELECT COUNT(*)-1 AS rcount";
// A discussion's root is its first message, so read marks below the
// smallest root id of the page cannot concern it: the person's marks from
// there on are few enough to be hashed once. Each root is looked up on its
// own; as a set, the planner may read every root of the database.
const char* const STATS_UNREAD =
    ",COUNT(*) FILTER (WHERE r.author<>(SELECT id FROM u) AND r.id NOT IN (SELECT message FROM message_read "
    "WHERE object=(SELECT id FROM u) AND message>=(SELECT COALESCE(MIN((SELECT MIN(x.id) FROM messages x WHERE "
    "x.adds_to=p.adds_to AND x.replies_to IS NULL)),0) FROM page p))) AS unread";
const char* const STATS_END = " FROM messages r WHERE r.adds_to IN (SELECT adds_to FROM page) GROUP BY r.adds_to)";
const char* const ROW_STATS_END = " FROM messages r WHERE r.adds_to=page.adds_to) stats ORDER BY ";
const char* const ROWS =
    "\nSELECT page.id AS "
    "id,page.adds_to AS adds_to,page.replies_to AS replies_to,page.author AS author,page.dn AS dn,page.topic AS "
    "topic,page.tdn AS tdn,page.text AS text,page.guid AS guid,page.time AS time,stats.rcount AS rcount,(SELECT "
    "COUNT(*) from message_likes l WHERE l.message=page.id) AS likes,";
const char* const PAGE_LATEST_LIKE = "(SELECT MAX(time) from message_likes l WHERE l.message=page.id)";
const char* const ROW_END = " AS ltime,page.rtime AS rtime,page.attached AS attached";
const char* const USER_COLUMNS =
    ",(SELECT time from message_read WHERE message=page.id AND object=(SELECT id FROM u)) AS read,EXISTS (SELECT 1 "
    "from message_likes l WHERE l.message=page.id AND l.object=(SELECT id FROM u)) AS like,stats.unread AS unread";
const char* const JOIN_STATS = " FROM page JOIN stats ON stats.adds_to=page.adds_to ORDER BY ";

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
    // The reader's name goes in once, quoted, each quote doubled at worst.
    return STATEMENT_SIZE + readable.Length() + 2 * (reader.size() + 1);
}

void TaskReadMessages::PrintPageStart(SqlText& sql, bool discussionList) const
{
    if (!reader.empty()) sql.Print(READER, reader.c_str());
    else sql.Print("WITH");
    sql.Print("%q", PAGE);
    if (liked) sql.Print(",%q AS ltime", LATEST_LIKE);
    sql.Print("%q", discussionList ? DISCUSSION_TABLES : TABLES);
}

void TaskReadMessages::PrintPageEnd(SqlText& sql, const char* order, bool discussionPerRow) const
{
    if (discussionPerRow) sql.Print(")");
    else {
        sql.Print("%q", STATS);
        if (!reader.empty()) sql.Print("%q", STATS_UNREAD);
        sql.Print("%q", STATS_END);
    }
    sql.Print("%q%q%q", ROWS, liked ? "page.ltime" : PAGE_LATEST_LIKE, ROW_END);
    if (!reader.empty()) sql.Print("%q", USER_COLUMNS);
    if (discussionPerRow) {
        sql.Print(" FROM page%q", ROW_STATS);
        if (!reader.empty()) sql.Print("%q", STATS_UNREAD);
        sql.Print("%q%q", ROW_STATS_END, order);
    } else
        sql.Print("%q%q", JOIN_STATS, order);
}

size_t TaskReadMessages::Statement(char* buf, size_t size) const
{
    return Write(buf, size, nullptr);
}

size_t TaskReadMessages::Write(char* buf, size_t size, SqlParams* params) const
{
    SqlText sql(buf, size, params);
    bool F = filter && !filter->FilterEmpty(), A = addsTo != 0, D = discussion, L = liked, T = timestamp != 0;
    PrintPageStart(sql, D && !A);
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
            sql.Advance(filter->WriteFilters(sql.End(), (int)room, params));
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
    // The limit is part of the shape: a plan made for an unknown limit
    // expects a tenth of the rows rather than a page.
    char limit[24];
    snprintf(limit, sizeof(limit), "%llu", (unsigned long long)(unsigned)count);
    if (A) {
        sql.Print(" ORDER BY m.time DESC,m.id DESC LIMIT %q", limit);
        PrintPageEnd(sql, "page.time DESC,page.id DESC", false);
    } else if (L) {
        sql.Print(" ORDER BY ltime DESC,m.id DESC LIMIT %q", limit);
        PrintPageEnd(sql, "page.ltime DESC,page.id DESC", D);
    } else if (D) {
        sql.Print(" ORDER BY rtime DESC,adds_to DESC LIMIT %q", limit);
        PrintPageEnd(sql, "page.rtime DESC,page.adds_to DESC", !A);
    } else {
        sql.Print(" ORDER BY rtime DESC,adds_to DESC,m.time DESC,m.id DESC LIMIT %q", limit);
        PrintPageEnd(sql, "page.rtime DESC,page.adds_to DESC,page.time DESC,page.id DESC", false);
    }
    return sql.Full() ? 0 : sql.Length();
}

void TaskReadMessages::Start(UTask* owner)
{
    user = owner;
    std::vector<char> sql(StatementSize());
    SqlParams params;
    size_t len = Write(sql.data(), sql.size(), &params);
    // Every part but the filter has a bounded length, and the filter writes
    // into the room left: the statement always fits.
    ASSERT(len, "TaskReadMessages statement does not fit");
    // A page is read whole, so the connection is free while its rows go out;
    // a client that asks for a huge page has it streamed instead.
    QueryParams(sql.data(), params, count > 0 && count <= WHOLE_PAGE);
}

