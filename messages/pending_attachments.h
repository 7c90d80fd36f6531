#pragma once

#include <string>
#include <vector>

#include "runtime/iomux.h"
#include "runtime/task.h"

class btree;
class MessagesCommon;
class TaskAttach;

// The attachments an instance is fetching for new messages, found by message
// id while they run: until a message's "attached" is written, readers report
// its URL list instead. Owns the tasks; one that has ended leaves the tree at
// once and is deleted on a later pass than its report.
class PendingAttachments : public UTask, public UIoExec {
public:
    explicit PendingAttachments(MessagesCommon* instance) : instance(instance) {}
    PendingAttachments(const PendingAttachments&) = delete;
    PendingAttachments& operator=(const PendingAttachments&) = delete;
    // Deletes what is left without telling the instance: it is going.
    ~PendingAttachments() override;

    // Starts fetching the files of message `id` (blank-separated URLs),
    // unless that runs already. bases: where the posting session reaches the
    // instance, under which URLs name our own buffers (see TaskAttach).
    void Attach(unsigned long long id, const char* attach, const std::vector<std::string>& bases);
    // The URL list of message `id` while its files are fetched, else null.
    const char* Pending(unsigned long long id) const;
    bool Empty() const { return !running && ended.empty(); }
    // The instance stops: each fetch ends soon, and what was stored is listed
    // while the database still takes it.
    void Stop();

    void TaskComplete(ITask* task) override { Ended(task); }
    void TaskFailed(ITask* task) override { Ended(task); }
    void IoExec(void* param) override;

private:
    void Ended(ITask* task);

    MessagesCommon* instance;
    btree* running = nullptr;
    std::vector<TaskAttach*> ended;
};
