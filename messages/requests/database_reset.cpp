#include "messages/requests/database_reset.h"

#include "messages/messages_common.h"
#include "messages/requests/messages_reply.h"
#include "messages/requests/request_context.h"
#include "messages/schema/task_database_init.h"
#include "messages/schema/task_database_reset.h"

DatabaseReset::~DatabaseReset()
{
    delete reset;
    delete init;
}

void DatabaseReset::Begin()
{
    if (!Database()) return Ended(nullptr);
    Working();
    reset = new TaskDatabaseReset(Database());
    reset->Start(this);
}

void DatabaseReset::Ended(ITask* task)
{
    if (task && task == reset) {
        delete reset;
        reset = nullptr;
        // A failed drop may have dropped some tables; they must come back.
        if (Database()) {
            init = new TaskDatabaseInit(Database());
            init->Start(this);
            return;
        }
    }
    // Every kept unread count was counted in the messages now gone.
    context->RequestCommon()->keptCounts.Removed();
    if (task && WorkEnded()) return;
    MessagesReply reply("DatabaseResetResult", Src());
    Reply(reply.Json());
}
