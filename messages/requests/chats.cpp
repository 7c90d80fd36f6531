#include "messages/requests/chats.h"

#include "messages/message_strings.h"

#include <string.h>
#include <strings.h>

#include <vector>

#include "database/data_set.h"
#include "json/json_io.h"
#include "messages/messages_common.h"
#include "messages/messages_session.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/requests/session.h"
#include "messages/tasks/task_delete_chat.h"
#include "messages/tasks/task_read_chat.h"
#include "messages/tasks/task_read_chats.h"
#include "messages/tasks/task_unread_count.h"
#include "messages/updates/read_chat_update.h"
#include "web/app_updates.h"

namespace {

// A row must fit one websocket message (64 KiB); file links are left out
// beyond this, and beyond what the row's JSON document holds.
const size_t ROW_ROOM = 60 * 1024;
const size_t MAX_LINKS = (json_io::CAPACITY - 32) / 3;

// The chat's topic: "user", else "topic", else the session's own. Null when
// the session may not use it (see chats.h).
const char* ChatTopic(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* topic = msg.get_string(base, "user");
    if (!topic) topic = msg.get_string(base, "topic");
    if (s.IsAppObject()) return topic && *topic ? topic : nullptr;
    if (!topic) return s.Sip();
    return s.Sip() && !strcasecmp(topic, s.Sip()) ? topic : nullptr;
}

// The user's unread chat count after a read or a delete, for the user's
// read filters.
void AnnounceChatCount(MessagesRequestContext* context, IDatabase* database, const std::string& topic)
{
    if (!database) return;
    auto* update = new MessagesUpdateReadChat(&context->RequestCommon()->readFilters, topic.c_str());
    update->Start(context->RequestUpdates(), new TaskUnreadCount(database, topic.c_str(), update, 1));
}

// Well-formed UTF-8, as a websocket text message must be: no overlong
// forms, surrogates or values beyond U+10FFFF.
bool WellFormed(const std::string& s)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* end = p + s.size();
    while (p < end) {
        unsigned char c = *p;
        size_t n = c < 0x80 ? 1 : c < 0xC2 ? 0 : c <= 0xDF ? 2 : c <= 0xEF ? 3 : c <= 0xF4 ? 4 : 0;
        if (!n || size_t(end - p) < n) return false;
        for (size_t k = 1; k < n; k++)
            if ((p[k] & 0xC0) != 0x80) return false;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) || (c == 0xF0 && p[1] < 0x90) ||
            (c == 0xF4 && p[1] > 0x8F))
            return false;
        p += n;
    }
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The file name of a link: the path's last part, URL-decoded. A name that
// would decode to a NUL or to malformed text is shown as it is stored.
std::string FileName(const char* path, size_t length)
{
    size_t start = length;
    while (start && path[start - 1] != '/') start--;
    std::string raw(path + start, length - start), name;
    for (size_t i = start; i < length; i++) {
        int high = -1, low = -1;
        if (path[i] == '%' && i + 2 < length) {
            high = HexDigit(path[i + 1]);
            low = HexDigit(path[i + 2]);
        }
        if (high < 0 || low < 0) {
            name += path[i];
            continue;
        }
        if (!high && !low) return raw;
        name += char(high * 16 + low);
        i += 2;
    }
    return WellFormed(name) ? name : raw;
}

// The links of a message's files: "attached" holds one path after another,
// separated by a blank. Only the links that fit into `room` are made.
void FileLinks(const char* attached, const ChatLinks& links, size_t room, std::vector<std::string>& urls,
               std::vector<std::string>& names)
{
    std::string query = "?session=" + std::to_string(links.session) +
                        "&usersession=" + std::to_string(links.userSession) + "&key=" + std::to_string(links.key);
    for (const char* path = attached; path && *path && urls.size() < MAX_LINKS;) {
        size_t length = strcspn(path, " ");
        if (length) {
            std::string url = links.address + "/files/" + std::string(path, length) + query;
            std::string name = FileName(path, length);
            size_t size = json_io::escaped_length(url.c_str()) + json_io::escaped_length(name.c_str()) + 32;
            if (size > room) break;
            room -= size;
            urls.push_back(std::move(url));
            names.push_back(std::move(name));
        }
        path += length;
        if (*path) path++;
    }
}

// The "attach" of a message whose files are still being fetched: the
// instance keeps those until the message's "attached" is written.
const char* PendingAttachment(MessagesRequestContext* context, unsigned long long id)
{
    return context->RequestCommon()->attachments.Pending(id);
}

}  // namespace

MessagesRequest* CreateReadChat(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* topic = ChatTopic(s, msg, base);
    if (!topic) return new Error(&s, "ReadChatResult");
    ChatLinks links;
    links.address = s.WebAddress();
    links.session = s.RequestSessionNumber();
    unsigned long long userKey = 0;
    // Only the app object acts for user sessions; their links name them.
    links.userSession = s.CheckUserSession(msg.get_ulong64(base, "session"), msg.get_string(base, "user"), userKey);
    links.key = links.userSession ? userKey : s.key;
    auto* read = new TaskReadChat(s.RequestDatabase(), topic, msg.get_string(base, "sip"),
                                  msg.get_ulong64(base, "older"), msg.get_bool(base, "noind"),
                                  msg.get_unsigned(base, "count"));
    return new ReadChat(&s, read, topic, links);
}

MessagesRequest* CreateDeleteChat(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* topic = ChatTopic(s, msg, base);
    if (!topic) return new Error(&s, "DeleteChatResult");
    return new DeleteChat(&s, new TaskDeleteChat(s.RequestDatabase(), topic, msg.get_string(base, "sip")), topic);
}

MessagesRequest* CreateReadChats(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* topic = ChatTopic(s, msg, base);
    if (!topic) return new Error(&s, "ReadChatsResult");
    bool unread = msg.get_bool(base, "unread");
    return new ReadChats(&s, new TaskReadChats(s.RequestDatabase(), topic, unread), unread);
}

ReadChat::ReadChat(MessagesRequestContext* context, TaskReadChat* read, const char* topic, const ChatLinks& links)
    : MessagesRequest(context), read(read), topic(topic), links(links)
{
}

ReadChat::~ReadChat()
{
    delete read;
}

void ReadChat::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    read->Start(this);
}

void ReadChat::TaskProgress(ITask*, unsigned)
{
    // Rows for a client that has gone are read no further, and not marked.
    if (context->RequestSessionClosed()) {
        read->Stop();
        return read->Next();
    }
    IDataSet* row = read->Row();
    unsigned long long id = row->GetULong64Value("id");
    const char* author = row->GetStringValue("author");
    const char* dn = row->GetStringValue("dn");
    const char* text = row->GetStringValue("text");
    const char* guid = row->GetStringValueWithNull("guid");
    std::string guidText = guid ? GuidText(guid) : std::string();

    // The links are made before the row is built: the row points into them.
    const char* attached = row->GetStringValueWithNull("attached");
    size_t used = json_io::escaped_length(text) + json_io::escaped_length(author) + json_io::escaped_length(dn) +
                  (Src() ? json_io::escaped_length(Src()) : 0) + 512;
    std::vector<std::string> urls, names;
    if (used < ROW_ROOM) FileLinks(attached, links, ROW_ROOM - used, urls, names);

    MessagesReply ind("ReadChatInd", Src());
    ind.Ulong64("id", id);
    ind.String("author", author);
    ind.String("dn", dn);
    ind.String("text", text);
    if (guid) ind.String("guid", guidText.c_str());
    ind.Ulong64("timestamp", row->GetULong64Value("time"));
    if (!attached || !*attached) {
        ind.String("attach", PendingAttachment(context, id));
    }
    else {
        json_io& json = ind.Json();
        unsigned short files = json.add_array(ind.Base(), "attached");
        for (size_t i = 0; i < urls.size(); i++) {
            unsigned short file = json.add_object(files, nullptr);
            ind.String("url", urls[i].c_str(), file);
            ind.String("name", names[i].c_str(), file);
        }
    }
    SendRow(ind.Json());
    read->Next();
}

void ReadChat::Done(ITask*, bool)
{
    AnnounceChatCount(context, Database(), topic);
    MessagesReply reply("ReadChatResult", Src());
    Reply(reply.Json());
}

DeleteChat::DeleteChat(MessagesRequestContext* context, TaskDeleteChat* remove, const char* topic)
    : MessagesRequest(context), remove(remove), topic(topic)
{
}

DeleteChat::~DeleteChat()
{
    delete remove;
}

void DeleteChat::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    remove->Start(this);
}

void DeleteChat::Done(ITask*, bool)
{
    AnnounceChatCount(context, Database(), topic);
    MessagesReply reply("DeleteChatResult", Src());
    Reply(reply.Json());
}

void ReadChats::Describe(IDataSet* row, MessagesReply& out)
{
    out.String("sip", row->GetStringValue("sip"));
    out.String("dn", row->GetStringValue("dn"));
    if (row->GetBoolValue("grp")) out.Bool("grp", true);
    out.Ulong64("timestamp", row->GetULong64Value("time"));
    if (unread) out.Unsigned("unread", row->GetUIntValue("count"));
}
