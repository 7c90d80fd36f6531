#include "messages/tasks/task_search_messages.h"

#include <vector>

#include "database/data_set.h"
#include "database/sql_text.h"
#include "runtime/assert.h"

namespace {

// How many of the newest ids are searched first: enough for a page of a
// word in one message of 400, few enough to walk by id in milliseconds.
const unsigned long long NEWEST_WINDOW = 20000;
// A window's text but for the search expression, the topic and the readable topics.
const size_t WINDOW_ROOM = 512;

}  // namespace

TaskSearchMessages::TaskSearchMessages(IDatabase* database, int count, const char* user,
                                       const MessagesSearchQuery& query, const char* topic, unsigned long long more,
                                       const MessagesReadableTopics& readable)
    : TaskReadMessages(database, count, 0, false, false, user, nullptr, 0, 0, readable), query(query),
      topic(topic ? topic : ""), hasTopic(topic != nullptr), more(more)
{
}

void TaskSearchMessages::SetState(State next)
{
    switch (next) {
    case LOOKING_UP: ASSERT(state == IDLE, "TaskSearchMessages started twice"); break;
    case READING: ASSERT(state == IDLE || state == LOOKING_UP, "TaskSearchMessages read twice"); break;
    default: FATAL("TaskSearchMessages: impossible state");
    }
    state = next;
}

void TaskSearchMessages::Start(UTask* owner)
{
    user = owner;
    if (more) return Read();
    // The newest ids are counted down from the highest.
    SetState(LOOKING_UP);
    database->ExecSQL(&newest, DB_EXEC_FETCH_ALL, "SELECT MAX(id) AS id FROM messages");
}

void TaskSearchMessages::Newest::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    // Without any message nothing lies below 1.
    task.more = 1;
    if (dataSet && !dataSet->Eot() && !dataSet->ColumnIsNull("id")) task.more += dataSet->GetULong64Value("id");
    delete dataSet;
    task.Read();
}

void TaskSearchMessages::Newest::DatabaseError(IDatabase*, db_error_t)
{
    task.Failed();
}

void TaskSearchMessages::Read()
{
    SetState(READING);
    // Both windows repeat the conditions; quoting may double the texts.
    size_t window = WINDOW_ROOM + 2 * (query.key.size() + query.rest.size() + topic.size()) + readable.Length();
    std::vector<char> sql(StatementSize() + 2 * window);
    size_t len = Statement(sql.data(), sql.size());
    ASSERT(len, "TaskSearchMessages statement does not fit");
    Query("%q", sql.data());
}

size_t TaskSearchMessages::Statement(char* buf, size_t size) const
{
    SqlText sql(buf, size);
    unsigned long long limit = (unsigned)count;
    // The highest id there can be, before the look-up; larger numbers would
    // be compared as numerics, past the index.
    unsigned long long top = more ? more - 1 : 9223372036854775807ull;
    unsigned long long bottom = top > NEWEST_WINDOW ? top - NEWEST_WINDOW : 0;
    PrintPageStart(sql, false);
    // The newest ids first, then all below them: the limit over both stops
    // after the first when it fills the page. With the bounds as values the
    // planner weighs the matches among the newest ids alone: it walks them
    // by id for a frequent word, where one statement over all ids would have
    // fetched every match to sort it or, for a rarer one, walked by id far
    // into the past.
    sql.Print(" WHERE m.id IN (SELECT id FROM (");
    for (int below = 0; below < (bottom ? 2 : 1); below++) {
        // The topic is looked up per message, and the readable topics are
        // tested as a value, so that neither can lead the plan: joined, the
        // planner may walk every message of every readable discussion, or
        // hash them and lose the order of the walk by id.
        const char* topicOf = "(SELECT d.topic FROM discussions d WHERE d.id=m.adds_to)";
        sql.Print(below ? " UNION ALL (SELECT m.id FROM messages m WHERE (" : "(SELECT m.id FROM messages m WHERE (");
        readable.Print(sql, topicOf);
        sql.Print(") IS TRUE AND m.search @@ to_tsquery('simple', %s)", query.key.c_str());
        // Tested as a value, the rest stays out of the index scan.
        if (!query.rest.empty()) sql.Print(" AND (m.search @@ to_tsquery('simple', %s)) IS TRUE", query.rest.c_str());
        if (hasTopic)
            sql.Print(" AND %q=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))", topicOf, topic.c_str());
        if (below) sql.Print(" AND m.id<=%llu", bottom);
        else sql.Print(" AND m.id<=%llu AND m.id>%llu", top, bottom);
        sql.Print(" ORDER BY m.id DESC LIMIT %llu)", limit);
    }
    sql.Print(") AS found LIMIT %llu) ORDER BY m.id DESC LIMIT %llu", limit, limit);
    PrintPageEnd(sql, "page.id DESC");
    return sql.Full() ? 0 : sql.Length();
}
