#pragma once

#include <string>
#include <vector>

#include "messages/tasks/task_change_message.h"

class TaskGetObjectId;
class TaskUpdateMessageReferences;

// Changes the text, notifications and tags of a message on behalf of its
// author, who is recorded as its editor with the time of the edit.
class TaskUpdateMessage : public TaskChangeMessage {
public:
    TaskUpdateMessage(IDatabase* database, unsigned long long id, const char* editor, const char* text);
    ~TaskUpdateMessage() override;
    // Null, empty and exactly repeated names are left out.
    void AddNotification(const char* sip);
    void AddTag(const char* name);

private:
    void Change() override;
    void ChangeStepComplete(ITask* task) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    std::string text;
    bool hasText;
    std::vector<std::string> notify;
    std::vector<std::string> tags;
    TaskGetObjectId* editor = nullptr;
    TaskUpdateMessageReferences* references = nullptr;
};
