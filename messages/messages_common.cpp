#include "messages/messages_common.h"

#include "database/database.h"

MessagesCommon::~MessagesCommon()
{
    delete database;
}
