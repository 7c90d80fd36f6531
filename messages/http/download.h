#pragma once

#include "dbfiles/dbfiles.h"
#include "messages/http/file_transfer.h"
#include "web/webserver_get.h"

// A file streamed to the client chunk by chunk: a chunk is read, sent in
// parts of at most 64000 bytes, each after the previous part's send result,
// and only then is the next chunk read. The subclass opens the file (a get
// of the file store or a buffer read, both IDbFilesGet) and sets the
// response's meta data. A file that cannot be read before anything was sent
// is refused; one that fails midway ends the response where it stands.
class MessagesDownload : public MessagesFileTransfer, public UWebserverGet, public UTask {
public:
    // Refusal: the answer when the file cannot be read at all.
    MessagesDownload(Messages* instance, wsr_cancel_type_t refusal);
    ~MessagesDownload() override;

    void WebserverGetRequestAcceptComplete(IWebserverGet* get) override;
    void WebserverGetSendResult(IWebserverGet* get) override;
    void WebserverGetCloseComplete(IWebserverGet* get) override;

    void TaskProgress(ITask* task, unsigned progress) override;
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;

    // One send carries at most this much.
    static const unsigned PART = 64000;

protected:
    // The response's meta data, set when the request is accepted.
    virtual void Accepted(IWebserverGet* get) = 0;
    // Creates and starts the read, with this object as its user.
    virtual IDbFilesGet* Open() = 0;

private:
    // NEW: waiting for the accept. READING: the file reads a chunk.
    // SENDING: a part of the chunk is on its way. DROPPING: the client went
    // while the file read; waiting for its report. DONE: the reading has
    // ended; the request is closing. ENDED: deletion is queued.
    enum State { NEW, READING, SENDING, DROPPING, DONE, ENDED };
    void SetState(State next);
    void SendPart();
    void Read();
    void End(bool ok);
    void Settle();

    wsr_cancel_type_t refusal;
    State state = NEW;
    IWebserverGet* get = nullptr;
    IDbFilesGet* file = nullptr;
    const unsigned char* chunk = nullptr;
    unsigned length = 0;
    unsigned sent = 0;
    bool sentAny = false;
};
