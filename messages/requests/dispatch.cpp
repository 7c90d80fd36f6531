#include "messages/requests/dispatch.h"

#include <string.h>
#include <strings.h>

#include "json/json_io.h"
#include "messages/filter_from_json.h"
#include "messages/message_content.h"
#include "messages/messages.h"
#include "messages/messages_common.h"
#include "messages/messages_session.h"
#include "messages/readable_topics.h"
#include "messages/requests/chats.h"
#include "messages/requests/database_reset.h"
#include "messages/requests/files.h"
#include "messages/requests/filters.h"
#include "messages/requests/groups.h"
#include "messages/requests/likes.h"
#include "messages/requests/post.h"
#include "messages/requests/read.h"
#include "messages/requests/read_marks.h"
#include "messages/requests/search.h"
#include "messages/requests/session.h"
#include "messages/requests/topics.h"
#include "messages/tasks/task_read_messages.h"
#include "messages/tasks/task_store_message.h"
#include "messages/tasks/task_update_message.h"
#include "messages/updates/message_update_filter.h"
#include "messages/updates/read_update_filter.h"
#include "pbx/messages_pbx_signalings.h"

namespace {

// Each string of the array `name`, skipping members of other types.
template <class Add>
void EachString(json_io& msg, unsigned short base, const char* name, Add add)
{
    unsigned short array = msg.get_array(base, name);
    if (array == json_io::NONE) return;
    for (unsigned short last = 0;;) {
        const char* value = msg.get_string(array, last);
        if (last == json_io::NONE) break;
        if (value) add(value);
    }
}

// What a session may read and post to: everything for the app object, else
// its user's topics.
MessagesReadableTopics Readable(MessagesSession& s)
{
    return s.IsAppObject() ? MessagesReadableTopics() : MessagesReadableTopics(s);
}

const MessagesUser* Reader(MessagesSession& s)
{
    return s.IsAppObject() ? nullptr : &s;
}

// A name that is announced as the client gave it: users, topics and their
// titles have at most 256 characters where they are stored, and a longer one
// could make the announcement outgrow a reader's websocket message.
const char* Announced(const char* name)
{
    return json_io::escaped_length(name) <= 6 * 256 ? name : nullptr;
}

MessagesRequest* CreatePost(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* topic = msg.get_string(base, "topic");
    if (!s.IsAppObject() && !s.FindTopic(topic)) return new Error(&s, "PostResult");
    if (!MessageTextFits(msg.get_string(base, "text"))) return new Error(&s, "PostResult");
    // Only the app object posts on behalf of others.
    const char* author = s.Sip();
    if (s.Sip() && s.AppObject() && !strcmp(s.Sip(), s.AppObject())) author = msg.get_string(base, "author");
    auto* store = new TaskStoreMessage(s.RequestDatabase(), &s.RequestCommon()->statements, Reader(s),
                                       msg.get_unsigned(base, "type"),
                                       msg.get_ulong64(base, "addsTo"), msg.get_ulong64(base, "repliesTo"), author,
                                       topic, Announced(msg.get_string(base, "tdn")), msg.get_string(base, "text"),
                                       msg.get_string(base, "guid"), msg.get_string(base, "filterSrc"),
                                       msg.get_string(base, "attach"));
    EachString(msg, base, "notify", [&](const char* v) { store->AddNotification(v); });
    EachString(msg, base, "tags", [&](const char* v) { store->AddTag(v); });
    // A person's chat message in the own topic (a new discussion of type 1)
    // whose client asks the service to deliver it, for clients that have no
    // app object to write the other sides' copies.
    bool chat = msg.get_bool(base, "deliver") && !s.IsAppObject() && store->type == 1 && !store->addsTo && !store->repliesTo && s.Sip() && topic &&
                !strcasecmp(topic, s.Sip());
    // The addresses its buffers were handed out under ("url" and "req").
    return new Post(&s, store, {s.WebAddress(), s.instance->WebPath()}, chat);
}

MessagesRequest* CreateUpdate(MessagesSession& s, json_io& msg, unsigned short base)
{
    unsigned long long id = msg.get_ulong64(base, "id");
    if (!MessageTextFits(msg.get_string(base, "text"))) return new Error(&s, "UpdateResult");
    auto* update = new TaskUpdateMessage(s.RequestDatabase(), id, s.Sip(), msg.get_string(base, "text"));
    EachString(msg, base, "notify", [&](const char* v) { update->AddNotification(v); });
    EachString(msg, base, "tags", [&](const char* v) { update->AddTag(v); });
    return new Update(&s, id, update);
}

MessagesRequest* CreateDelete(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new Delete(&s, msg.get_ulong64(base, "id"));
}

MessagesRequest* CreateDiscussion(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new Discussion(&s, new TaskReadMessages(s.RequestReadDatabase(), msg.get_int(base, "count"),
                                                   msg.get_ulong64(base, "discussion"), true, false, s.Sip(),
                                                   nullptr, 0, 0, Readable(s)));
}

// What "SetFilter" and "GetMore" read alike.
TaskReadMessages* ReadPage(MessagesSession& s, json_io& msg, unsigned short base, const MessageFilter* filter,
                           unsigned long long timestamp, unsigned long long lastId)
{
    return new TaskReadMessages(s.RequestReadDatabase(), msg.get_int(base, "count"),
                                (unsigned long long)msg.get_long64(base, "addsTo"), msg.get_bool(base, "discussion"),
                                msg.get_bool(base, "liked"), msg.get_bool(base, "read") ? s.Sip() : nullptr, filter,
                                timestamp, lastId, Readable(s));
}

MessagesRequest* CreateSetFilter(MessagesSession& s, json_io& msg, unsigned short base)
{
    // Registered before the first page is read, so that nothing posted
    // meanwhile is missed; it replaces the session's filter of that name.
    auto* filter = new MessagesFilter(&s.RequestCommon()->messageFilters, &s, s.Src(), msg.get_bool(base, "liked"),
                                      (unsigned long long)msg.get_long64(base, "addsTo"), Reader(s));
    unsigned short expression = msg.get_object(base, "filter");
    if (expression != json_io::NONE) jsonFilter(filter, msg, expression, &s);
    return new SetFilter(&s, ReadPage(s, msg, base, filter, 0, 0));
}

MessagesRequest* CreateGetMore(MessagesSession& s, json_io& msg, unsigned short base)
{
    auto* filter = static_cast<MessagesFilter*>(s.AppFilterGet(&s.RequestCommon()->messageFilters, s.Src()));
    return new GetMore(&s, ReadPage(s, msg, base, filter, msg.get_ulong64(base, "timestamp"),
                                    msg.get_ulong64(base, "id")));
}

MessagesRequest* CreateSetUnreadFilter(MessagesSession& s, json_io& msg, unsigned short base)
{
    AppUpdatesFilters* group = &s.RequestCommon()->readFilters;
    auto* old = static_cast<MessagesFilterRead*>(s.AppFilterGet(group, s.Src()));
    // Without a "filter" the count covers the user's topics.
    unsigned short expression = msg.get_object(base, "filter");
    if (old) {
        MessageFilter asked(MessageFilter::AND);
        jsonFilter(&asked, msg, expression, &s);
        if (SetUnreadFilter::Repeats(&s, old, asked, Readable(s))) return new SetUnreadFilter(&s, old, Readable(s), true);
    }
    auto* filter = new MessagesFilterRead(group, &s, s.Src(), s.Sip(), Reader(s));
    jsonFilter(filter, msg, expression, &s);
    return new SetUnreadFilter(&s, filter, Readable(s), false);
}

MessagesRequest* CreateSetRead(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new SetRead(&s, msg.get_ulong64(base, "id"), Readable(s));
}

MessagesRequest* CreateLike(MessagesSession& s, json_io& msg, unsigned short base)
{
    unsigned long long id = msg.get_ulong64(base, "id");
    // The announcement shows the message as the client described it.
    const char* text = msg.get_string(base, "text");
    auto* content = new MessageContent(msg.get_unsigned(base, "type"), msg.get_ulong64(base, "addsTo"),
                                       msg.get_ulong64(base, "repliesTo"), Announced(msg.get_string(base, "author")),
                                       Announced(msg.get_string(base, "topic")), nullptr,
                                       MessageTextFits(text) ? text : nullptr,
                                       nullptr);
    content->id = id;
    // A like is announced under the topic the client names: one of its own.
    if (Reader(s) && !s.FindTopic(content->topic)) {
        delete content;
        content = nullptr;
    }
    return new Like(&s, id, content, Readable(s));
}

MessagesRequest* CreateUnLike(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new UnLike(&s, msg.get_ulong64(base, "id"));
}

MessagesRequest* CreateLikes(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new Likes(&s, (unsigned long long)(long long)msg.get_int(base, "id"), s.RequestDatabase(), Readable(s));
}

MessagesRequest* CreateNothing(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreatePbxInfo(MessagesSession& s, json_io&, unsigned short)
{
    s.RequestCommon()->pbxSignalings->createPbxSignaling(&s);
    return nullptr;
}

MessagesRequest* CreateReadTopics(MessagesSession& s, json_io&, unsigned short)
{
    return new ReadTopics(&s);
}

MessagesRequest* CreateSession(MessagesSession& s, json_io& msg, unsigned short base)
{
    unsigned number = msg.get_unsigned(base, "session");
    const char* user = msg.get_string(base, "user");
    // A number announced again gets a new user session with a new key.
    s.PutUserSession(new MessagesUserSession(number, user, MessagesRandomKey()));
    return new Session(&s, number, user, msg.get_string(base, "dn"));
}

MessagesRequest* CreateSessionClose(MessagesSession& s, json_io& msg, unsigned short base)
{
    s.RemoveUserSession(msg.get_unsigned(base, "session"));
    return nullptr;
}

MessagesRequest* CreateDatabaseReset(MessagesSession& s, json_io&, unsigned short)
{
    return new DatabaseReset(&s);
}

// In the order in which the API lists its messages.
const MessagesDispatchRow rows[] = {
    {"Post", false, CreatePost},
    {"Update", false, CreateUpdate},
    {"Delete", false, CreateDelete},
    {"Discussion", false, CreateDiscussion},
    {"SetFilter", false, CreateSetFilter},
    {"GetMore", false, CreateGetMore},
    {"SetUnreadFilter", false, CreateSetUnreadFilter},
    {"SetRead", false, CreateSetRead},
    {"Like", false, CreateLike},
    {"UnLike", false, CreateUnLike},
    {"Likes", false, CreateLikes},
    {"Attachments", false, CreateAttachments},
    {"PbxInfo", false, CreatePbxInfo},
    {"RegisterResult", false, CreateNothing},
    {"ReadFilters", false, CreateReadFilters},
    {"WriteFilter", false, CreateWriteFilter},
    {"ReadTags", false, CreateReadTags},
    {"ReadTopics", false, CreateReadTopics},
    {"WriteTopic", true, CreateWriteTopic},
    {"ReadTopicAccess", true, CreateReadTopicAccess},
    {"WriteTopicAccess", true, CreateWriteTopicAccess},
    {"ReadChat", false, CreateReadChat},
    {"DeleteChat", false, CreateDeleteChat},
    {"ReadChats", false, CreateReadChats},
    {"WriteGroup", false, CreateWriteGroup},
    {"ReadGroups", false, CreateReadGroups},
    {"ReadMembers", false, CreateReadMembers},
    {"WriteMember", false, CreateWriteMember},
    {"CreateFileBuffer", false, CreateCreateFileBuffer},
    {"Session", false, CreateSession},
    {"SessionClose", false, CreateSessionClose},
    {"DatabaseReset", true, CreateDatabaseReset},
    // Beyond the messages of the platform's clients.
    {"Search", false, CreateSearch},
};

}  // namespace

const MessagesDispatchRow* MessagesDispatchFind(const char* mt, bool admin)
{
    if (!mt) return nullptr;
    for (const MessagesDispatchRow& row : rows)
        if (!strcmp(row.mt, mt)) return admin || !row.adminOnly ? &row : nullptr;
    return nullptr;
}
