#include "messages/tasks/task_search_messages.h"

#include <vector>

#include "database/data_set.h"
#include "database/sql_text.h"
#include "runtime/assert.h"

namespace {

// The id windows searched one after the other, newest first, before all
// the ids below them. The newest hold a page of a word in one message of
// 400 and are few enough to walk by id in milliseconds.
const int WINDOWS = 3;
const unsigned long long WINDOW_SIZES[WINDOWS - 1] = {20000, 80000};
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
    // Every window repeats the conditions; quoting may double the texts.
    size_t window = WINDOW_ROOM + 2 * (query.prefixes.size() + query.words.size() + query.phrases.size() + topic.size()) +
                    readable.Length();
    std::vector<char> sql(StatementSize() + WINDOWS * window);
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
    unsigned long long bounds[WINDOWS + 1];
    bounds[0] = more ? more - 1 : 9223372036854775807ull;
    // Each window ends where the next begins; the last has no lower bound.
    int windows = 0;
    do {
        unsigned long long top = bounds[windows];
        bool last = windows == WINDOWS - 1 || top <= WINDOW_SIZES[windows];
        bounds[windows + 1] = last ? 0 : top - WINDOW_SIZES[windows];
        windows++;
    } while (bounds[windows]);
    PrintPageStart(sql, false);
    // The newest ids first, then the next older ones, then all below them:
    // the limit over all stops after the first that fills the page. With
    // the bounds as values the planner weighs the matches of each window
    // alone: it walks the newest by id for a frequent word, where one
    // statement over all ids would have fetched every match to sort it or,
    // for a rarer one, walked by id far into the past. The middle window
    // serves words and pairs a little rarer than a page among the newest,
    // which would otherwise fetch every match over all ids to sort them.
    sql.Print(" WHERE m.id IN (SELECT id FROM (");
    for (int w = 0; w < windows; w++) {
        // The topic is looked up per message, and the readable topics are
        // tested as a value, so that neither can lead the plan: joined, the
        // planner may walk every message of every readable discussion, or
        // hash them and lose the order of the walk by id.
        const char* topicOf = "(SELECT d.topic FROM discussions d WHERE d.id=m.adds_to)";
        sql.Print(w ? " UNION ALL (SELECT m.id FROM messages m WHERE (" : "(SELECT m.id FROM messages m WHERE (");
        readable.Print(sql, topicOf);
        sql.Print(") IS TRUE");
        // Short words among the newest are tested row by row on the stored
        // words (the prefix index's expression would be computed per row).
        if (!w && query.shortWords)
            sql.Print(" AND (m.search @@ to_tsquery('simple', %s)) IS TRUE", query.words.c_str());
        else if (!query.prefixes.empty())
            sql.Print(" AND search_prefixes(m.text) @@ to_tsquery('simple', %s)", query.prefixes.c_str());
        // Tested as a value, the phrases stay out of the index scan when the
        // prefixes lead it.
        if (!query.phrases.empty())
            sql.Print(query.prefixes.empty() ? " AND m.search @@ to_tsquery('simple', %s)"
                                             : " AND (m.search @@ to_tsquery('simple', %s)) IS TRUE",
                      query.phrases.c_str());
        if (hasTopic)
            sql.Print(" AND %q=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))", topicOf, topic.c_str());
        sql.Print(" AND m.id<=%llu", bounds[w]);
        if (bounds[w + 1]) sql.Print(" AND m.id>%llu", bounds[w + 1]);
        sql.Print(" ORDER BY m.id DESC LIMIT %llu)", limit);
    }
    sql.Print(") AS found LIMIT %llu) ORDER BY m.id DESC LIMIT %llu", limit, limit);
    PrintPageEnd(sql, "page.id DESC", false);
    return sql.Full() ? 0 : sql.Length();
}
