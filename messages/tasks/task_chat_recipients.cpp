#include "messages/tasks/task_chat_recipients.h"

#include <string.h>

#include "database/sql_text.h"
#include "messages/message_strings.h"

TaskChatRecipients::TaskChatRecipients(IDatabase* database, const char* writer, const MessageStrings& notified)
    : MessagesTaskRows(database), writer(writer ? writer : "")
{
    // Names are at most 256 characters where they are stored; longer ones match nobody.
    for (const MessageString& n : notified)
        if (strlen(n.value) <= 256) this->notified.push_back(n.value);
}

void TaskChatRecipients::Start(UTask* owner)
{
    user = owner;
    std::vector<char> buf(notified.size() * 1100 + 100);
    SqlText list(buf.data(), buf.size());
    for (size_t i = 0; i < notified.size(); i++) list.Print(i ? ",LOWER(%s)" : "LOWER(%s)", notified[i].c_str());
    if (notified.empty()) list.Print("NULL");
    Query("SELECT o.sip AS topic,%s AS notify FROM objects o WHERE o.grp IS NOT TRUE AND LOWER(o.sip) IN (%q) AND "
          "LOWER(o.sip)<>LOWER(%s) UNION ALL SELECT u.sip AS topic,g.sip AS notify FROM objects g JOIN members m ON "
          "m.grp=g.id JOIN objects u ON u.id=m.object WHERE g.grp IS TRUE AND LOWER(g.sip) IN (%q) AND "
          "LOWER(u.sip)<>LOWER(%s)",
          writer.c_str(), buf.data(), writer.c_str(), buf.data(), writer.c_str());
}
