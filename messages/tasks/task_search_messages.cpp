#include "messages/tasks/task_search_messages.h"

#include "database/sql_text.h"

TaskSearchMessages::TaskSearchMessages(IDatabase* database, int count, const char* user, const std::string& query,
                                       const char* topic, unsigned long long more,
                                       const MessagesReadableTopics& readable)
    : TaskReadMessages(database, count, 0, false, false, user, nullptr, 0, 0, readable), query(query),
      topic(topic ? topic : ""), hasTopic(topic != nullptr), more(more)
{
}

size_t TaskSearchMessages::Statement(char* buf, size_t size) const
{
    SqlText sql(buf, size);
    PrintSelect(sql);
    sql.Print(" WHERE ");
    // The topic is looked up per message, so that it cannot lead the plan:
    // joined, the planner may walk every message of every readable
    // discussion and test its words, seconds for a word of middling
    // frequency; this way it finds rows through the word index or walks the
    // newest messages, whichever is cheaper.
    const char* topicOf = "(SELECT d.topic FROM discussions d WHERE d.id=m.adds_to)";
    readable.Print(sql, topicOf);
    // The words of the text are matched through the index of its words.
    sql.Print(" AND m.search @@ to_tsquery('simple', %s)", query.c_str());
    if (hasTopic)
        sql.Print(" AND %q=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))", topicOf, topic.c_str());
    if (more) sql.Print(" AND m.id < %llu", more);
    sql.Print(" ORDER BY m.id DESC LIMIT %llu", (unsigned long long)(unsigned)count);
    return sql.Full() ? 0 : sql.Length();
}
