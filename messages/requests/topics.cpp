#include "messages/requests/topics.h"

#include <string.h>

#include <string>

#include "database/data_set.h"
#include "json/json_io.h"
#include "messages/messages_session.h"
#include "messages/messages_user.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_read_topic_access.h"
#include "messages/tasks/task_write_topic.h"
#include "messages/tasks/task_write_topic_access.h"

namespace {

// The row id of the session's topic named by "topic"; 0 for a topic the
// session does not know, which has no access rows.
unsigned long long TopicId(MessagesSession& s, json_io& msg, unsigned short base)
{
    MessagesTopic* topic = s.FindTopic(msg.get_string(base, "topic"));
    return topic ? topic->id : 0;
}

}  // namespace

MessagesRequest* CreateWriteTopic(MessagesSession& s, json_io& msg, unsigned short base)
{
    const char* sip = msg.get_string(base, "sip");
    const char* dn = nullptr;
    // A title may only be given to a sub-topic of one of the administrator's
    // own topics; that is how topics are created and renamed.
    if (const char* mark = sip ? strchr(sip, '?') : nullptr) {
        if (s.FindTopic(std::string(sip, mark).c_str())) dn = msg.get_string(base, "dn");
        else sip = nullptr;
    }
    return new WriteTopic(&s, new TaskWriteTopic(s.RequestDatabase(), msg.get_ulong64(base, "id"), sip, dn, s.Sip()));
}

MessagesRequest* CreateReadTopicAccess(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new ReadTopicAccess(&s, new TaskReadTopicAccess(s.RequestDatabase(), TopicId(s, msg, base)));
}

MessagesRequest* CreateWriteTopicAccess(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new WriteTopicAccess(&s, new TaskWriteTopicAccess(s.RequestDatabase(), TopicId(s, msg, base),
                                                             msg.get_ulong64(base, "id"), msg.get_bool(base, "grp"),
                                                             msg.get_string(base, "sip"),
                                                             msg.get_bool(base, "admin")));
}

WriteTopic::WriteTopic(MessagesRequestContext* context, TaskWriteTopic* write)
    : WriteRow(context, write, !write->Writes(), "WriteTopicResult", false), topic(write)
{
}

void WriteTopic::Written()
{
    MessagesUser* user = context->RequestUser();
    unsigned long long id = topic->Id();
    // The entry of the row written goes, whatever its old name was.
    for (MessagesTopic* t = id ? user->FirstTopic() : nullptr; t; t = user->NextTopic(t)) {
        if (t->id == id) {
            user->RemoveTopic(t);
            break;
        }
    }
    if (!topic->Sip()) return;
    bool admin = false;
    if (MessagesTopic* named = user->FindTopic(topic->Sip())) {
        admin = named->admin;
        if (!id) id = named->id;
        user->RemoveTopic(named);
    }
    if (!topic->Dn()) return;
    // Added as the next login would add it.
    std::string name(topic->Sip());
    user->AddTopic(&name[0], topic->Dn(), id, admin);
}

void ReadTopicAccess::Describe(IDataSet* row, MessagesReply& out)
{
    out.Ulong64("id", row->GetULong64Value("id"));
    out.Bool("grp", row->GetBoolValue("grp"));
    out.String("sip", row->GetStringValue("sip"));
    out.Bool("admin", row->GetBoolValue("admin"));
}
