#include "messages/requests/groups.h"

// Not yet: these messages are answered like unknown ones.

MessagesRequest* CreateWriteGroup(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateReadGroups(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateReadMembers(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateWriteMember(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}
