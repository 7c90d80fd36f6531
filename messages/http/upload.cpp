#include "messages/http/upload.h"

#include <stdlib.h>

#include "runtime/assert.h"

MessagesUpload::MessagesUpload(Messages* instance, wsr_cancel_type_t refusal)
    : MessagesFileTransfer(instance), refusal(refusal)
{
}

MessagesUpload::~MessagesUpload()
{
    ASSERT(state == ENDED || state == NEW, "MessagesUpload deleted while it runs");
    delete file;
    delete discard;
}

void MessagesUpload::SetState(State next)
{
    bool ok;
    switch (next) {
    case OPENING: ok = state == NEW; break;
    case RECEIVING: ok = state == OPENING || state == WRITING; break;
    case WRITING: ok = state == OPENING || state == RECEIVING || state == WRITING; break;
    case DROPPING: ok = state == OPENING || state == WRITING; break;
    case DISCARDING: ok = state == OPENING || state == RECEIVING || state == WRITING || state == DROPPING; break;
    case DONE: ok = state != DONE && state != ENDED; break;
    case ENDED: ok = state == DONE; break;
    default: ok = false; break;
    }
    ASSERT(ok, "MessagesUpload impossible state transition");
    state = next;
}

void MessagesUpload::WebserverPostRequestAcceptComplete(IWebserverPost* accepted)
{
    post = accepted;
    chunked = post->DataIsChunkEncoded() || post->GetDataSize() == WS_SIZE_CHUNKED;
    remaining = chunked ? 0 : post->GetDataSize();
    Accepted(post);
    SetState(OPENING);
    file = Open();
}

void MessagesUpload::ReceiveNext()
{
    // Nothing (more) to come with a known length: an empty last write closes the file.
    if (!chunked && !remaining) {
        SetState(WRITING);
        lastWritten = true;
        file->Write(nullptr, 0, true);
        return;
    }
    SetState(RECEIVING);
    size_t size = chunked || remaining > BLOCK ? BLOCK : (size_t)remaining;
    post->Recv(malloc(size), size);
}

void MessagesUpload::WebserverPostRecvResult(IWebserverPost*, void* buffer, size_t len)
{
    ASSERT(state == RECEIVING, "MessagesUpload data while it does not receive");
    if (!len && !chunked) {
        // The body ended before its length: the client went.
        free(buffer);
        return Drop(WSP_CANCEL_BAD_REQUEST);
    }
    if (!chunked) remaining -= len < remaining ? len : remaining;
    lastWritten = chunked ? len == 0 : remaining == 0;
    SetState(WRITING);
    file->Write((const unsigned char*)buffer, (unsigned)len, lastWritten);
    free(buffer);
}

void MessagesUpload::WebserverPostRecvCanceled(IWebserverPost*, void* buffer)
{
    // The close completes right after: the upload is dropped there.
    free(buffer);
}

void MessagesUpload::WebserverPostCloseComplete(IWebserverPost* closed)
{
    delete closed;
    post = nullptr;
    switch (state) {
    case NEW: SetState(DONE); break;
    case OPENING: SetState(DROPPING); break;
    case RECEIVING: return Drop(WSP_CANCEL_NOT_FOUND);
    case WRITING:
        if (!lastWritten) SetState(DROPPING);
        break;
    default: break;
    }
    Settle();
}

void MessagesUpload::TaskProgress(ITask* task, unsigned)
{
    ASSERT(task == file, "MessagesUpload progress of another task");
    switch (state) {
    case OPENING:
        opened = true;
        return ReceiveNext();
    case WRITING: return ReceiveNext();
    case DROPPING: return Drop(WSP_CANCEL_NOT_FOUND);
    default: FATAL("MessagesUpload progress in an unexpected state");
    }
}

void MessagesUpload::TaskComplete(ITask* task)
{
    if (task == discard) {
        delete discard;
        discard = nullptr;
        SetState(DONE);
        return Settle();
    }
    ASSERT(task == file, "MessagesUpload completion of another task");
    // Only the last write completes a file; anything else has not ended.
    if (state != WRITING || !lastWritten) return Drop(WSP_CANCEL_INTERNAL_ERROR);
    delete file;
    file = nullptr;
    Answer(true);
}

void MessagesUpload::TaskFailed(ITask* task)
{
    // A failed deletion leaves nothing more to do.
    if (task == discard) return TaskComplete(task);
    ASSERT(task == file, "MessagesUpload failure of another task");
    if (opened) return Drop(WSP_CANCEL_INTERNAL_ERROR);
    // Never opened (no such buffer or message): nothing was written.
    delete file;
    file = nullptr;
    Answer(false);
}

void MessagesUpload::Drop(wsr_cancel_type_t reason)
{
    if (post) post->Cancel(reason);
    discard = file ? Discard(file) : nullptr;
    delete file;
    file = nullptr;
    if (discard) SetState(DISCARDING);
    else SetState(DONE);
    Settle();
}

void MessagesUpload::Answer(bool ok)
{
    SetState(DONE);
    if (post && ok) post->Close();
    else if (post) post->Cancel(refusal);
    Settle();
}

void MessagesUpload::Settle()
{
    if (state != DONE || post) return;
    SetState(ENDED);
    Finish();
}
