#include "database/sql_text.h"
#include "messages/filter_expression.h"

namespace {

const char TOPIC[] = "%qdiscussion.topic=(SELECT id FROM objects WHERE sip=%s)";
const char AUTHOR[] = "%qauthor.sip=%s";
const char TAG[] = "%q(m.id IN (SELECT message FROM message_tags JOIN tags ON tags.id = message_tags.tag WHERE tags.name=%s))";
const char NOTIFIES[] =
    "%q(m.id IN (SELECT message FROM message_notifications JOIN objects AS notify ON notify.id = "
    "message_notifications.object WHERE notify.sip=%s))";
const char NOTIFIES_ANYBODY[] =
    "%q(m.id IN (SELECT message FROM message_notifications JOIN objects AS notify ON notify.id = "
    "message_notifications.object))";

// The short form joins all values of one kind in an OR filter into one IN
// list, which selects the same as the single comparisons: the topic default
// of a user with many topics is the filter that outgrows its room first.
const char TOPIC_IN[] = "%qdiscussion.topic IN (SELECT id FROM objects WHERE sip IN (";
const char AUTHOR_IN[] = "%qauthor.sip IN (";
const char TAG_IN[] = "%q(m.id IN (SELECT message FROM message_tags JOIN tags ON tags.id = message_tags.tag WHERE tags.name IN (";
const char NOTIFIES_IN[] =
    "%q(m.id IN (SELECT message FROM message_notifications JOIN objects AS notify ON notify.id = "
    "message_notifications.object WHERE notify.sip IN (";

// Hands out the operator word before every term but the first.
class Separator {
public:
    explicit Separator(const MessageFilter& f) : word(f.op == MessageFilter::OR ? " OR " : " AND ") {}
    const char* Next()
    {
        const char* s = first ? "" : word;
        first = false;
        return s;
    }

private:
    const char* word;
    bool first = true;
};

bool WriteTerms(const MessageFilter& f, SqlText& out, bool shortForm);

bool WriteEach(const MessageStrings& values, const char* format, Separator& sep, SqlText& out)
{
    for (const MessageString& v : values)
        if (!out.Print(format, sep.Next(), v.value)) return false;
    return true;
}

bool WriteIn(const MessageStrings& values, const char* format, const char* close, Separator& sep, SqlText& out)
{
    if (values.Empty()) return true;
    if (!out.Print(format, sep.Next())) return false;
    for (const MessageString& v : values)
        if (!out.Print(&v == values.First() ? "%s" : ",%s", v.value)) return false;
    return out.Print("%q", close);
}

bool WriteNotificationsIn(const MessageStrings& values, Separator& sep, SqlText& out)
{
    // One empty name already selects every message that notifies anybody.
    for (const MessageString& v : values)
        if (!*v.value) return out.Print(NOTIFIES_ANYBODY, sep.Next());
    return WriteIn(values, NOTIFIES_IN, ")))", sep, out);
}

bool WriteNotifications(const MessageStrings& values, Separator& sep, SqlText& out)
{
    for (const MessageString& v : values) {
        bool ok = *v.value ? out.Print(NOTIFIES, sep.Next(), v.value) : out.Print(NOTIFIES_ANYBODY, sep.Next());
        if (!ok) return false;
    }
    return true;
}

bool WriteTerms(const MessageFilter& f, SqlText& out, bool shortForm)
{
    // Without terms the database needs a condition all the same; it selects
    // what the in-memory match does: everything under AND, nothing under OR.
    if (f.FilterEmpty()) return out.Print("%q", f.op == MessageFilter::OR ? "FALSE" : "TRUE");
    Separator sep(f);
    bool ok;
    if (shortForm && f.op == MessageFilter::OR)
        ok = WriteIn(f.topics, TOPIC_IN, "))", sep, out) && WriteIn(f.authors, AUTHOR_IN, ")", sep, out) &&
             WriteIn(f.tags, TAG_IN, ")))", sep, out) && WriteNotificationsIn(f.notifications, sep, out);
    else
        ok = WriteEach(f.topics, TOPIC, sep, out) && WriteEach(f.authors, AUTHOR, sep, out) &&
             WriteEach(f.tags, TAG, sep, out) && WriteNotifications(f.notifications, sep, out);
    for (const MessageFilter* n = f.filters; ok && n; n = n->next)
        ok = out.Print("%q(", sep.Next()) && WriteTerms(*n, out, shortForm) && out.Print(")");
    return ok;
}

}  // namespace

int MessageFilter::WriteFilters(char* buf, int size, SqlParams* params) const
{
    if (!buf || size <= 0) return 0;
    SqlText out(buf, size, params);
    if (WriteTerms(*this, out, false)) return (int)out.Length();
    out.Restart();
    if (WriteTerms(*this, out, true)) return (int)out.Length();
    out.Restart();
    out.Print("FALSE");
    return (int)out.Length();
}
