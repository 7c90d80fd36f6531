#include "messages/messages_common.h"

#include "database/database.h"
#include "pbx/pbx_signalings.h"

MessagesCommon::MessagesCommon(IDatabase* database) : database(database)
{
    createPbxSignalings();
}

void MessagesCommon::createPbxSignalings()
{
    pbxSignalings = new MessagesPbxSignalings(this);
}

MessagesCommon::~MessagesCommon()
{
    delete pbxSignalings;
    delete database;
}
