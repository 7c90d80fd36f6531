#include "messages/requests/search.h"

#include "json/json_io.h"
#include "messages/messages_session.h"
#include "messages/readable_topics.h"
#include "messages/requests/messages_reply.h"
#include "messages/search_query.h"
#include "messages/tasks/task_search_messages.h"

void Search::ReplyMembers(MessagesReply& reply)
{
    reply.Unsigned("count", Rows());
}

MessagesRequest* CreateSearch(MessagesSession& s, json_io& msg, unsigned short base)
{
    MessagesSearchQuery query(msg.get_string(base, "text"));
    const char* topic = msg.get_string(base, "topic");
    // Nothing to look for, or a topic the user may not read: an empty page.
    bool nothing = query.Empty() || (topic && !s.IsAppObject() && !s.FindTopic(topic));
    int count = nothing ? 0 : msg.get_int(base, "count");
    MessagesReadableTopics readable = s.IsAppObject() ? MessagesReadableTopics() : MessagesReadableTopics(s);
    return new Search(&s, "SearchResult",
                      new TaskSearchMessages(s.RequestReadDatabase(), count, s.Sip(), query, topic,
                                             msg.get_ulong64(base, "more"), readable));
}
