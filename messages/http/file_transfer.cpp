#include "messages/http/file_transfer.h"

#include "messages/messages.h"

MessagesFileTransfer::MessagesFileTransfer(Messages* instance) : instance(instance)
{
    instance->FileTransferBegin();
}

void MessagesFileTransfer::Finish()
{
    instance->GetIoMux()->SetExec(this, nullptr);
}

void MessagesFileTransfer::IoExec(void*)
{
    // The instance may report itself stopped, and be deleted, when it hears.
    Messages* owner = instance;
    delete this;
    owner->FileTransferEnd();
}
