#pragma once

class AppUpdatesSession;

// The instance's registry of PBX signaling links: one link per PBX session,
// and the group chats they carry.
class IMessagesPbxSignalings {
public:
    virtual ~IMessagesPbxSignalings() {}
    // The PBX announced itself on this session ("PbxInfo").
    virtual void createPbxSignaling(AppUpdatesSession* session) = 0;
    // A member has left a group: its calls in the group's chat end.
    virtual void memberDeleted(const char* group, const char* member) = 0;
};
