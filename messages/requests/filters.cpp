#include "messages/requests/filters.h"

// Not yet: these messages are answered like unknown ones.

MessagesRequest* CreateReadFilters(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateWriteFilter(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}

MessagesRequest* CreateReadTags(MessagesSession&, json_io&, unsigned short)
{
    return nullptr;
}
