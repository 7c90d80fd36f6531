#pragma once

#include <string>

#include "messages/requests/row_requests.h"

class MessagesSession;
class TaskWriteGroup;
class TaskWriteMember;
class json_io;

// Groups and their members: "WriteGroup", "ReadGroups", "ReadMembers", "WriteMember".

// The requests for these messages, made from the message at index base of
// msg for the session (null: nothing to do, no reply).
MessagesRequest* CreateWriteGroup(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadGroups(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateReadMembers(MessagesSession& session, json_io& msg, unsigned short base);
MessagesRequest* CreateWriteMember(MessagesSession& session, json_io& msg, unsigned short base);

// "WriteGroup": creates, renames or deletes a group; the reply carries the
// group's "id" (0 after a delete or a failed create) and its "sip".
class WriteGroup : public MessagesRequest {
public:
    // Takes over the task; sip is the group's name as the session formed it
    // (null when it had none to form).
    WriteGroup(MessagesRequestContext* context, TaskWriteGroup* write, const char* sip);
    ~WriteGroup() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;

    TaskWriteGroup* write;
    std::string sip;
    bool named;
};

// "ReadGroups": one "ReadGroupsInd" per group of a user.
class ReadGroups : public ReadRows {
public:
    ReadGroups(MessagesRequestContext* context, MessagesTaskRows* rows)
        : ReadRows(context, rows, "ReadGroupsInd", "ReadGroupsResult")
    {
    }

private:
    void Describe(IDataSet* row, MessagesReply& out) override;
};

// "ReadMembers": one "ReadMembersInd" per member of a group.
class ReadMembers : public ReadRows {
public:
    ReadMembers(MessagesRequestContext* context, MessagesTaskRows* rows)
        : ReadRows(context, rows, "ReadMembersInd", "ReadMembersResult")
    {
    }

private:
    void Describe(IDataSet* row, MessagesReply& out) override;
};

// "WriteMember": adds, changes or removes a membership. Once the reply has
// left, the PBX signaling hears of a member who left a group, so that the
// member's calls in the group's chat end.
class WriteMember : public MessagesRequest {
public:
    WriteMember(MessagesRequestContext* context, TaskWriteMember* write);
    ~WriteMember() override;
    void Begin() override;

private:
    void Done(ITask* task, bool failed) override;
    void AfterReply() override;

    TaskWriteMember* write;
};
