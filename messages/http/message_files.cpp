#include "messages/http/message_files.h"

#include "dbfiles/dbfiles.h"
#include "runtime/assert.h"

namespace {
// The name as a header field quotes it: a quote or a backslash in it would
// end or escape the quoted text.
std::string DownloadName(const std::string& name)
{
    std::string safe = name;
    for (char& c : safe)
        if (c == '"' || c == '\\') c = '_';
    return safe;
}
}  // namespace

MessagePost::MessagePost(Messages* instance, IDbFiles* store, unsigned long long message, const std::string& name)
    : MessagesUpload(instance, WSP_CANCEL_NOT_FOUND), store(store), message(message), name(name)
{
}

IDbFilesPut* MessagePost::Open()
{
    // A message that does not exist refuses the file's row: not found.
    return store->Put(this, name.c_str(), message, false);
}

ITask* MessagePost::Discard(IDbFilesPut* file)
{
    return file->Get() ? store->Del(this, file->Get()) : nullptr;
}

MessageGet::MessageGet(Messages* instance, IDbFiles* store, unsigned long long id, const std::string& name)
    : MessagesDownload(instance, WSP_CANCEL_INTERNAL_ERROR), store(store), id(id), name(DownloadName(name))
{
}

void MessageGet::Accepted(IWebserverGet* get)
{
    // The length is not known before the last chunk: the response is chunked.
    get->SetTransferInfo(WSP_RESPONSE_BINARY, WS_SIZE_CHUNKED, 0, nullptr);
    get->ForceDownloadResponse(name.c_str());
}

IDbFilesGet* MessageGet::Open()
{
    return store->Get(this, id, 0, true);
}

MessageDel::MessageDel(Messages* instance, IDbFiles* store, unsigned long long id)
    : MessagesFileTransfer(instance), store(store), id(id)
{
}

MessageDel::~MessageDel()
{
    ASSERT(state == ENDED || state == NEW, "MessageDel deleted while it runs");
    delete task;
}

void MessageDel::SetState(State next)
{
    bool ok;
    switch (next) {
    case DELETING: ok = state == NEW; break;
    case DONE: ok = state == NEW || state == DELETING; break;
    case ENDED: ok = state == DONE; break;
    default: ok = false; break;
    }
    ASSERT(ok, "MessageDel impossible state transition");
    state = next;
}

void MessageDel::WebserverPostRequestAcceptComplete(IWebserverPost* accepted)
{
    post = accepted;
    SetState(DELETING);
    task = store->Del(this, id);
}

void MessageDel::Deleted(bool ok)
{
    ASSERT(state == DELETING, "MessageDel deletion result while it does not delete");
    delete task;
    task = nullptr;
    SetState(DONE);
    if (post && ok) post->Close();
    else if (post) post->Cancel(WSP_CANCEL_INTERNAL_ERROR);
    Settle();
}

void MessageDel::WebserverPostCloseComplete(IWebserverPost* closed)
{
    delete closed;
    post = nullptr;
    // A deletion under way goes on; its result ends the object.
    if (state == NEW) SetState(DONE);
    Settle();
}

void MessageDel::Settle()
{
    if (state != DONE || post) return;
    SetState(ENDED);
    Finish();
}
