#include "messages/tasks/task_update_message.h"

#include <algorithm>

#include "messages/tasks/task_get_entity_id.h"
#include "messages/tasks/task_update_message_references.h"

namespace {

void AddName(std::vector<std::string>& list, const char* name)
{
    if (name && *name && std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}

}  // namespace

TaskUpdateMessage::TaskUpdateMessage(IDatabase* database, unsigned long long id, const char* editor,
                                     const char* text)
    : TaskChangeMessage(database, id, editor), text(text ? text : ""), hasText(text != nullptr)
{
}

TaskUpdateMessage::~TaskUpdateMessage()
{
    delete editor;
    delete references;
}

void TaskUpdateMessage::AddNotification(const char* sip)
{
    AddName(notify, sip);
}

void TaskUpdateMessage::AddTag(const char* name)
{
    AddName(tags, name);
}

void TaskUpdateMessage::Change()
{
    editor = new TaskGetObjectId(&database, sip.c_str());
    editor->Start(this);
}

void TaskUpdateMessage::ChangeStepComplete(ITask* task)
{
    if (task == editor) {
        database.ExecSQL(this, DB_EXEC_FETCH_ALL,
                         "UPDATE messages SET text=%s,edited=(SELECT EXTRACT(EPOCH FROM CURRENT_TIMESTAMP) * "
                         "1000),editor=%llu WHERE id=%llu",
                         hasText ? text.c_str() : nullptr, editor->GetId(), id);
        return;
    }
    Changed();
}

void TaskUpdateMessage::DatabaseExecSQLResult(IDatabase*, IDataSet* dataSet)
{
    delete dataSet;
    references = new TaskUpdateMessageReferences(&database, id, notify, tags);
    references->Start(this);
}
