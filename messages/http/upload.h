#pragma once

#include "dbfiles/dbfiles.h"
#include "messages/http/file_transfer.h"
#include "web/webserver_post.h"

// A request body streamed into a file: a block is received, written, and
// only then is the next one received, so one block of at most 64000 bytes
// is held at a time. The subclass makes the file (a put of the file store or
// a buffer write, both IDbFilesPut) and knows how to throw it away.
//
// How an upload ends: with a length, after that many bytes; with a chunked
// body, when the webserver reports its end (an empty receive), and an empty
// last write closes the file; an empty body makes an empty file. A body
// that ends early, a client that goes before its last byte, or a file that
// fails midway leaves nothing behind: what was written is deleted, so no
// download or listing ever serves part of an upload.
class MessagesUpload : public MessagesFileTransfer, public UWebserverPost, public UTask {
public:
    // Refusal: the answer when the file cannot be made.
    MessagesUpload(Messages* instance, wsr_cancel_type_t refusal);
    ~MessagesUpload() override;

    void WebserverPostRequestAcceptComplete(IWebserverPost* post) override;
    void WebserverPostRecvResult(IWebserverPost* post, void* buffer, size_t len) override;
    void WebserverPostRecvCanceled(IWebserverPost* post, void* buffer) override;
    void WebserverPostCloseComplete(IWebserverPost* post) override;

    void TaskProgress(ITask* task, unsigned progress) override;
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;

    // One receive asks for at most this much.
    static const unsigned BLOCK = 64000;

protected:
    // The response's meta data, set when the request is accepted.
    virtual void Accepted(IWebserverPost*) {}
    // Creates and starts the file, with this object as its user; its first
    // progress report says that it takes data.
    virtual IDbFilesPut* Open() = 0;
    // Starts deleting what the file holds (it is idle or has ended), with
    // this object as the task's user; null when there is nothing to delete.
    virtual ITask* Discard(IDbFilesPut* file) = 0;

private:
    // NEW: waiting for the accept. OPENING: the file is being made.
    // RECEIVING: a block is on its way from the client. WRITING: a block is
    // being stored. DROPPING: the upload did not end while a statement of
    // the file ran; waiting for it. DISCARDING: what was written is being
    // deleted. DONE: the store work has ended; the request is closing.
    // ENDED: deletion is queued.
    enum State { NEW, OPENING, RECEIVING, WRITING, DROPPING, DISCARDING, DONE, ENDED };
    void SetState(State next);
    void ReceiveNext();
    // The upload did not end: the request (if still there) gets `reason`, and
    // the file, idle or ended, goes with what it holds.
    void Drop(wsr_cancel_type_t reason);
    // The file is complete, or cannot be; the request gets its answer.
    void Answer(bool ok);
    void Settle();

    wsr_cancel_type_t refusal;
    State state = NEW;
    IWebserverPost* post = nullptr;
    IDbFilesPut* file = nullptr;
    ITask* discard = nullptr;
    bool chunked = false;
    bool opened = false;
    // The last write is under way: a client that goes now leaves a whole file.
    bool lastWritten = false;
    unsigned long long remaining = 0;
};
