#include "messages/tasks/task_write_filter.h"

#include <stdlib.h>

#include <initializer_list>

#include "messages/message_strings.h"

TaskWriteFilter::TaskWriteFilter(IDatabase* database, unsigned long long owner, unsigned long long id,
                                 const char* filter, const char* text, const char* topic, const char* dn,
                                 const char* tag, bool seq)
    : MessagesTaskWrite(database, id), ownerId(owner), seq(seq)
{
    ReplaceString(this->filter, filter);
    ReplaceString(this->text, text);
    ReplaceString(this->topic, topic);
    ReplaceString(this->dn, dn);
    ReplaceString(this->tag, tag);
}

TaskWriteFilter::~TaskWriteFilter()
{
    for (char* s : {filter, text, topic, dn, tag}) free(s);
}

void TaskWriteFilter::Start(UTask* owner)
{
    user = owner;
    if (filter && !id)
        return Insert("INSERT INTO filters (object, filter, text, topic, dn, tag) VALUES (%llu,%s,%s,%s,%s,%s)",
                      ownerId, filter, text, topic, dn, tag);
    if (filter)
        return Exec("UPDATE filters SET filter=%s,text=%s,topic=%s,dn=%s,tag=%s%n WHERE id=%llu AND object=%llu",
                    filter, text, topic, dn, tag, seq ? ",seq=DEFAULT" : "", id, ownerId);
    if (seq) return Exec("UPDATE filters SET seq=DEFAULT WHERE id=%llu AND object=%llu", id, ownerId);
    Exec("DELETE FROM filters WHERE id=%llu AND object=%llu", id, ownerId);
}
