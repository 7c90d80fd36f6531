#include "messages/tasks/task_write_topic_access.h"

#include <stdlib.h>

#include "messages/message_strings.h"

TaskWriteTopicAccess::TaskWriteTopicAccess(IDatabase* database, unsigned long long topic, unsigned long long id,
                                           bool grp, const char* sip, bool admin)
    : MessagesTaskWrite(database, id), topic(topic), grp(grp), admin(admin)
{
    ReplaceString(this->sip, sip);
}

TaskWriteTopicAccess::~TaskWriteTopicAccess()
{
    free(sip);
}

void TaskWriteTopicAccess::Start(UTask* owner)
{
    user = owner;
    if (id) return Exec("DELETE FROM topic_access WHERE id=%llu AND topic=%llu", id, topic);
    Insert("INSERT INTO topic_access (topic,grp,sip,admin) VALUES (%llu,%b,%s,%b)", topic, grp, sip, admin);
}

void TaskWriteTopicAccess::DatabaseError(IDatabase* db, db_error_t error)
{
    id = 0;
    MessagesTaskWrite::DatabaseError(db, error);
}
