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
    readable.Print(sql, "discussion.topic");
    // The words of the text are matched through the index of its words.
    sql.Print(" AND m.search @@ to_tsquery('simple', %s)", query.c_str());
    if (hasTopic) sql.Print(" AND discussion.topic=(SELECT id FROM objects WHERE LOWER(sip)=LOWER(%s))", topic.c_str());
    if (more) sql.Print(" AND m.id < %llu", more);
    sql.Print(" ORDER BY m.id DESC LIMIT %llu", (unsigned long long)(unsigned)count);
    return sql.Full() ? 0 : sql.Length();
}
