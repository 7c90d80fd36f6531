#include "messages/tasks/task_read_chats.h"

void TaskReadChats::Start(UTask* owner)
{
    user = owner;
    if (unread)
        Query("SELECT MAX(messages.time) AS time,COUNT(*) as count,objects.sip AS sip,objects.dn AS dn,objects.grp AS "
              "grp FROM messages JOIN message_notifications ON message_notifications.message = messages.id JOIN "
              "objects ON objects.id = message_notifications.object JOIN discussions ON discussions.type=1 AND "
              "discussions.id = messages.adds_to JOIN objects topic ON discussions.topic = topic.id WHERE "
              "LOWER(topic.sip)=LOWER(%s) AND messages.author<>topic.id AND NOT EXISTS (SELECT * from message_read "
              "WHERE message=messages.id AND object=topic.id) GROUP BY objects.sip, objects.dn, objects.grp ORDER BY "
              "time DESC",
              topic.c_str());
    else
        Query("SELECT MAX(messages.time) AS time,COUNT(*) as count,objects.sip AS sip,objects.dn AS dn,objects.grp AS "
              "grp FROM messages JOIN message_notifications ON message_notifications.message = messages.id JOIN "
              "objects ON objects.id = message_notifications.object JOIN discussions ON discussions.type=1 AND "
              "discussions.id = messages.adds_to JOIN objects topic ON discussions.topic = topic.id WHERE "
              "LOWER(topic.sip)=LOWER(%s) GROUP BY objects.sip, objects.dn, objects.grp ORDER BY time DESC",
              topic.c_str());
}
