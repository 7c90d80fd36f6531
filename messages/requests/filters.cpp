#include "messages/requests/filters.h"

#include <initializer_list>

#include "database/data_set.h"
#include "json/json_io.h"
#include "messages/messages_session.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_read_filters.h"
#include "messages/tasks/task_read_tags.h"
#include "messages/tasks/task_write_filter.h"

namespace {

// A stored filter comes back as one "Filter" message, and a websocket message
// carries at most 64 KB: its strings leave room for the "src" and the numbers,
// as a posted text does.
bool FilterFits(std::initializer_list<const char*> strings)
{
    size_t length = 0;
    for (const char* s : strings)
        if (s) length += json_io::escaped_length(s);
    return length <= 48 * 1024;
}

}  // namespace

MessagesRequest* CreateReadFilters(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new ReadFilters(&s, new TaskReadFilters(s.RequestDatabase(), s.RequestUser()->id,
                                                   msg.get_ulong64(base, "id")));
}

MessagesRequest* CreateWriteFilter(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* filter = msg.get_string(base, "filter");
    const char* text = msg.get_string(base, "text");
    const char* topic = msg.get_string(base, "topic");
    const char* dn = msg.get_string(base, "dn");
    const char* tag = msg.get_string(base, "tag");
    bool fits = FilterFits({filter, text, topic, dn, tag});
    auto* write = new TaskWriteFilter(s.RequestDatabase(), s.RequestUser()->id, msg.get_ulong64(base, "id"),
                                      filter, text, topic, dn, tag, msg.get_bool(base, "seq"));
    return new WriteFilter(&s, write, !fits);
}

MessagesRequest* CreateReadTags(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new ReadTags(&s, new TaskReadTags(s.RequestDatabase(), msg.get_unsigned(base, "count"),
                                             msg.get_string(base, "like"), msg.get_ulong64(base, "more")));
}

void ReadFilters::Describe(IDataSet* row, MessagesReply& out)
{
    out.Ulong64("id", row->GetULong64Value("id"));
    for (const char* column : {"filter", "text", "topic", "dn", "tag"})
        out.String(column, row->GetStringValueWithNull(column));
}

void ReadTags::Describe(IDataSet* row, MessagesReply& out)
{
    out.Ulong64("id", row->GetULong64Value("id"));
    out.String("tag", row->GetStringValue("name"));
}
