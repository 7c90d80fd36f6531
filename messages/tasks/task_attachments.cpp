#include "messages/tasks/task_attachments.h"

namespace {
// The file store's rows of the message; size is -1 while a file is written.
const char* const ATTACHMENTS =
    "SELECT id, name FROM files WHERE folder=%llu AND size>=0 AND incomplete IS NOT TRUE ORDER BY id LIMIT %u";
// Only for a message in a topic of the condition (the text of MessagesReadableTopics).
const char* const ATTACHMENTS_READABLE =
    "SELECT f.id AS id, f.name AS name FROM files f WHERE f.folder=%llu AND f.size>=0 AND f.incomplete IS NOT TRUE "
    "AND EXISTS (SELECT 1 FROM messages rm JOIN discussions rd ON rd.id=rm.adds_to WHERE rm.id=%llu AND %q) "
    "ORDER BY f.id LIMIT %u";
}  // namespace

void TaskAttachments::Start(UTask* owner)
{
    user = owner;
    if (readable.All()) return Query(ATTACHMENTS, message, limit);
    Query(ATTACHMENTS_READABLE, message, message, readable.Condition("rd.topic").c_str(), limit);
}
