#include "messages/pending_attachments.h"

#include "messages/messages_common.h"
#include "messages/tasks/task_attach.h"
#include "runtime/instance_log.h"

PendingAttachments::~PendingAttachments()
{
    while (running) {
        btree* task = running;
        running = btree::btree_get(running, task);
        delete task;
    }
    for (TaskAttach* task : ended) delete task;
}

void PendingAttachments::Attach(unsigned long long id, const char* attach, const std::vector<std::string>& bases)
{
    if (!id || !attach || !*attach || btree::btree_find(running, &id)) return;
    // The instance is a logging object too; its log carries the tasks' lines.
    auto* task = new TaskAttach(instance, dynamic_cast<IInstanceLog*>(instance), id, attach, bases);
    running = btree::btree_put(running, task);
    instance->AttachmentBegun();
    task->Start(this);
}

const char* PendingAttachments::Pending(unsigned long long id) const
{
    auto* task = static_cast<TaskAttach*>(btree::btree_find(running, &id));
    return task ? task->Attach() : nullptr;
}

void PendingAttachments::Stop()
{
    // A task's Stop reports nothing before it returns, so the tree stays as it is.
    for (btree* n = btree::btree_find_right(running, nullptr); n;) {
        auto* task = static_cast<TaskAttach*>(n);
        unsigned long long id = task->Id();
        task->Stop();
        n = btree::btree_find_next_right(running, &id);
    }
}

void PendingAttachments::Ended(ITask* task)
{
    auto* attach = static_cast<TaskAttach*>(task);
    running = btree::btree_get(running, attach);
    ended.push_back(attach);
    if (!IsQueued()) instance->GetIoMux()->SetExec(this, nullptr);
}

void PendingAttachments::IoExec(void*)
{
    std::vector<TaskAttach*> gone;
    gone.swap(ended);
    for (TaskAttach* task : gone) delete task;
    // The last of these calls may end the instance, and this object with it.
    MessagesCommon* owner = instance;
    for (size_t i = 0; i < gone.size(); i++) owner->AttachmentEnded();
}
