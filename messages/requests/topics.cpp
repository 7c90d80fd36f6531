#include "messages/requests/topics.h"

// Not yet: these messages are answered like unknown ones.

MessagesRequest* CreateWriteTopic(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateReadTopicAccess(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateWriteTopicAccess(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}
