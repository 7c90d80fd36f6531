#include "runtime/task.h"

namespace {

// The owner of abandoned tasks: it only lets them go.
class TaskReaper : public UTask {
public:
    void TaskComplete(ITask* task) override { delete task; }
    void TaskFailed(ITask* task) override { delete task; }
};

TaskReaper reaper;

}  // namespace

void ITask::Abandon()
{
    user = &reaper;
    Stop();
}
