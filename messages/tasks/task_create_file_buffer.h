#pragma once

#include <string>

#include "messages/tasks/task_write.h"

// A new upload buffer: a row of files_buffer with the buffer's name and a
// key of 16 random letters and digits; Id() is the buffer id. The key goes
// into the buffer's URL as it is, so it holds nothing that needs encoding.
// Reports on the loop; the owner may delete the task inside either callback.
class TaskCreateFileBuffer : public MessagesTaskWrite {
public:
    TaskCreateFileBuffer(IDatabase* database, const char* name);
    void Start(UTask* owner) override;
    const std::string& Key() const { return key; }
    const std::string& Name() const { return name; }

    static const unsigned KEY_LENGTH = 16;

private:
    std::string key;
    std::string name;
};
