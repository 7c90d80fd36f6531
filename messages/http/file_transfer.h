#pragma once

#include "runtime/iomux.h"

class Messages;

// One HTTP file request of the instance, from its acceptance until both its
// request has closed and its store work has ended. The instance counts it
// while it lives: a stopping instance reports itself stopped only after the
// last one, and a database that goes away is kept (closed) until no transfer
// that may still hold one of its tasks is left.
class MessagesFileTransfer : public UIoExec {
public:
    explicit MessagesFileTransfer(Messages* instance);
    MessagesFileTransfer(const MessagesFileTransfer&) = delete;
    MessagesFileTransfer& operator=(const MessagesFileTransfer&) = delete;

protected:
    // Queues the deletion for a later loop pass, so that the object is never
    // deleted inside a callback it is answering.
    void Finish();

    Messages* const instance;

private:
    void IoExec(void* param) override;
};
