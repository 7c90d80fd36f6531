#include "messages/requests/files.h"

// Not yet: these messages are answered like unknown ones.

MessagesRequest* CreateAttachments(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateCreateFileBuffer(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}
