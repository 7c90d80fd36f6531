#include "messages/http/download.h"

#include "runtime/assert.h"

MessagesDownload::MessagesDownload(Messages* instance, wsr_cancel_type_t refusal)
    : MessagesFileTransfer(instance), refusal(refusal)
{
}

MessagesDownload::~MessagesDownload()
{
    ASSERT(state == ENDED || state == NEW, "MessagesDownload deleted while it runs");
    delete file;
}

void MessagesDownload::SetState(State next)
{
    bool ok;
    switch (next) {
    case READING: ok = state == NEW || state == READING || state == SENDING; break;
    case SENDING: ok = state == READING || state == SENDING; break;
    case DROPPING: ok = state == READING; break;
    case DONE: ok = state != DONE && state != ENDED; break;
    case ENDED: ok = state == DONE; break;
    default: ok = false; break;
    }
    ASSERT(ok, "MessagesDownload impossible state transition");
    state = next;
}

void MessagesDownload::WebserverGetRequestAcceptComplete(IWebserverGet* accepted)
{
    get = accepted;
    Accepted(get);
    SetState(READING);
    file = Open();
}

void MessagesDownload::Read()
{
    SetState(READING);
    file->Read(false);
}

void MessagesDownload::TaskProgress(ITask* task, unsigned)
{
    ASSERT(task == file, "MessagesDownload progress of another task");
    if (state == DROPPING) return End(true);
    file->Get(chunk, length);
    // An empty chunk has nothing to send: on to the next one.
    if (!chunk || !length) return Read();
    sent = 0;
    SendPart();
}

void MessagesDownload::SendPart()
{
    SetState(SENDING);
    unsigned n = length - sent < PART ? length - sent : PART;
    const unsigned char* part = chunk + sent;
    sent += n;
    sentAny = true;
    get->Send(part, n);
}

void MessagesDownload::WebserverGetSendResult(IWebserverGet*)
{
    ASSERT(state == SENDING, "MessagesDownload send result while it does not send");
    if (sent < length) return SendPart();
    Read();
}

void MessagesDownload::TaskComplete(ITask* task)
{
    ASSERT(task == file, "MessagesDownload completion of another task");
    End(true);
}

void MessagesDownload::TaskFailed(ITask* task)
{
    ASSERT(task == file, "MessagesDownload failure of another task");
    End(false);
}

void MessagesDownload::End(bool ok)
{
    delete file;
    file = nullptr;
    SetState(DONE);
    if (get && (ok || sentAny)) get->Close();
    else if (get) get->Cancel(refusal);
    Settle();
}

void MessagesDownload::WebserverGetCloseComplete(IWebserverGet* closed)
{
    delete closed;
    get = nullptr;
    // A read under way cannot be taken back; its report ends the download.
    if (state == READING) SetState(DROPPING);
    else if (state == SENDING || state == NEW) End(true);
    else Settle();
}

void MessagesDownload::Settle()
{
    if (state != DONE || get) return;
    SetState(ENDED);
    Finish();
}
