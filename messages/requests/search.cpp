#include "messages/requests/search.h"

// Not yet: these messages are answered like unknown ones.

MessagesRequest* CreateSearch(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}
