#include "messages/requests/groups.h"

#include <string>

#include "database/data_set.h"
#include "json/json_io.h"
#include "messages/messages_common.h"
#include "messages/messages_session.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/tasks/task_read_groups.h"
#include "messages/tasks/task_read_members.h"
#include "messages/tasks/task_write_group.h"
#include "messages/tasks/task_write_member.h"
#include "pbx/messages_pbx_signalings.h"

MessagesRequest* CreateWriteGroup(MessagesSession& s, json_io& msg, unsigned short base)
{
    // Groups are named below the app object, which keeps its groups apart
    // from those of other app objects; a login without one names none.
    const char* appobj = s.AppObject();
    const char* grp = msg.get_string(base, "grp");
    unsigned long long id = msg.get_ulong64(base, "id");
    const char* dn = msg.get_string(base, "dn");
    std::string sip;
    if (appobj) sip = std::string(appobj) + "?" + (grp ? grp : std::to_string((unsigned)MessagesRandomKey()));
    auto* write = new TaskWriteGroup(s.RequestDatabase(), id, sip.c_str(), dn, msg.get_string(base, "user"));
    // A delete names no group.
    bool deletes = id && !dn;
    return new WriteGroup(&s, write, appobj && !deletes ? sip.c_str() : nullptr);
}

MessagesRequest* CreateReadGroups(MessagesSession& s, json_io& msg, unsigned short base)
{
    // Without "user", the groups of the session's own user.
    const char* user = msg.get_string(base, "user");
    return new ReadGroups(&s, new TaskReadGroups(s.RequestDatabase(), user ? user : s.Sip()));
}

MessagesRequest* CreateReadMembers(MessagesSession& s, json_io& msg, unsigned short base)
{
    // A group id of 0 names no group: the list is empty.
    return new ReadMembers(&s, new TaskReadMembers(s.RequestDatabase(), msg.get_ulong64(base, "id")));
}

MessagesRequest* CreateWriteMember(MessagesSession& s, json_io& msg, unsigned short base)
{
    return new WriteMember(&s, new TaskWriteMember(s.RequestDatabase(), msg.get_ulong64(base, "id"),
                                                   msg.get_ulong64(base, "grp"), msg.get_string(base, "member"),
                                                   msg.get_bool(base, "admin")));
}

WriteGroup::WriteGroup(MessagesRequestContext* context, TaskWriteGroup* write, const char* sip)
    : MessagesRequest(context), write(write), sip(sip ? sip : ""),
      // The reply must fit a websocket message; a name longer than the
      // column holds is no group's name anyway.
      named(sip && json_io::escaped_length(sip) <= 6 * 256)
{
}

WriteGroup::~WriteGroup()
{
    delete write;
}

void WriteGroup::Begin()
{
    bool creating = !write->Id();
    if (!Database() || (creating && sip.empty())) return Done(nullptr, true);
    Working();
    write->Start(this);
}

void WriteGroup::Done(ITask*, bool)
{
    MessagesReply reply("WriteGroupResult", Src());
    reply.Ulong64("id", write->Id());
    if (named) reply.String("sip", sip.c_str());
    Reply(reply.Json());
}

void ReadGroups::Describe(IDataSet* row, MessagesReply& out)
{
    out.Ulong64("id", row->GetULong64Value("id"));
    out.String("sip", row->GetStringValue("sip"));
    out.String("dn", row->GetStringValue("dn"));
}

void ReadMembers::Describe(IDataSet* row, MessagesReply& out)
{
    out.Ulong64("id", row->GetULong64Value("id"));
    if (row->GetBoolValue("admin")) out.Bool("admin", true);
    out.String("sip", row->GetStringValue("sip"));
    out.String("dn", row->GetStringValue("dn"));
}

WriteMember::WriteMember(MessagesRequestContext* context, TaskWriteMember* write)
    : MessagesRequest(context), write(write)
{
}

WriteMember::~WriteMember()
{
    delete write;
}

void WriteMember::Begin()
{
    if (!Database()) return Done(nullptr, true);
    Working();
    write->Start(this);
}

void WriteMember::Done(ITask*, bool)
{
    MessagesReply reply("WriteMemberResult", Src());
    Reply(reply.Json());
}

void WriteMember::AfterReply()
{
    // The member's calls in the group's chat end with the membership.
    IMessagesPbxSignalings* pbx = context->RequestCommon()->pbxSignalings;
    if (pbx && write->LeftGroup()) pbx->memberDeleted(write->LeftGroup(), write->LeftMember());
}
