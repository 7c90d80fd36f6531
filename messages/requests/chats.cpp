#include "messages/requests/chats.h"

// Not yet: these messages are answered like unknown ones.

MessagesRequest* CreateReadChat(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateDeleteChat(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateReadChats(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}
