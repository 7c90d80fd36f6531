#include "messages/messages_common.h"

#include "database/database.h"
#include "pbx/messages_pbx_signalings.h"

MessagesCommon::~MessagesCommon()
{
    delete pbxSignalings;
    delete database;
}
