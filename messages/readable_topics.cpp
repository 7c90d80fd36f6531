#include "messages/readable_topics.h"

#include "database/sql_text.h"
#include "messages/messages_user.h"

MessagesReadableTopics::MessagesReadableTopics(const MessagesUser& user) : all(false)
{
    for (MessagesTopic* t = user.FirstTopic(); t; t = user.NextTopic(t)) {
        names.push_back(t->sip);
        // Quotes may double; the rest is a few words per name.
        length += 2 * names.back().size() + 16;
    }
    length += 64;
}

bool MessagesReadableTopics::Print(SqlText& sql, const char* column) const
{
    if (all) return sql.Print("TRUE");
    if (names.empty()) return sql.Print("FALSE");
    // The topics' rows are found as the database finds users and topics,
    // without regard to letter case, through the index on LOWER(sip).
    sql.Print("%q IN (SELECT id FROM objects WHERE LOWER(sip) IN (", column);
    for (size_t i = 0; i < names.size(); i++) sql.Print(i ? ",LOWER(%s)" : "LOWER(%s)", names[i].c_str());
    return sql.Print("))");
}

std::string MessagesReadableTopics::Condition(const char* column) const
{
    std::vector<char> buf(Length());
    SqlText sql(buf.data(), buf.size());
    Print(sql, column);
    return sql.Text();
}
