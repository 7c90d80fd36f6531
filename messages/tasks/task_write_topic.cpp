#include "messages/tasks/task_write_topic.h"

#include <stdlib.h>

#include "messages/message_strings.h"
#include "runtime/assert.h"

TaskWriteTopic::TaskWriteTopic(IDatabase* database, unsigned long long id, const char* sip, const char* dn,
                               const char* user)
    : MessagesTaskWrite(database, id)
{
    ReplaceString(this->sip, sip);
    ReplaceString(this->dn, dn);
    ReplaceString(creator, user);
}

TaskWriteTopic::~TaskWriteTopic()
{
    free(sip);
    free(dn);
    free(creator);
}

void TaskWriteTopic::Start(UTask* owner)
{
    ASSERT(Writes(), "TaskWriteTopic started with nothing to write");
    user = owner;
    if (dn && id) return Exec("UPDATE objects SET dn=%s, sip=%s WHERE id=%llu", dn, sip, id);
    if (dn && creator)
        return Exec("WITH topic AS (INSERT INTO objects (sip,dn) VALUES (%s,%s) RETURNING id) INSERT INTO "
                    "topic_access (topic,grp,sip,admin) VALUES ((SELECT id FROM topic),FALSE,%s,TRUE) RETURNING topic",
                    sip, dn, creator);
    if (dn)
        return Insert("INSERT INTO objects (sip, dn) VALUES (%s,%s) ON CONFLICT (LOWER(sip)) DO UPDATE SET dn = "
                      "EXCLUDED.dn",
                      sip, dn);
    Exec("DELETE FROM objects WHERE id=%llu AND sip=%s", id, sip);
}

void TaskWriteTopic::Take(IDataSet* row)
{
    // Only the creation returns a row: the new topic.
    if (!id) id = row->GetULong64Value("topic");
}
