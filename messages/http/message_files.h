#pragma once

#include <string>

#include "messages/http/download.h"
#include "messages/http/upload.h"
#include "web/webserver_post.h"

class IDbFiles;

// The files of a message over HTTP: uploaded into, read from and deleted
// from the file store, whose folder of a file is its message's row id. The
// store is the one the instance had when the request came; the instance
// keeps it until every request holding it has ended.

// A POST with "file-name": the body becomes a new file of the message.
class MessagePost : public MessagesUpload {
public:
    MessagePost(Messages* instance, IDbFiles* store, unsigned long long message, const std::string& name);

private:
    IDbFilesPut* Open() override;
    ITask* Discard(IDbFilesPut* file) override;

    IDbFiles* store;
    unsigned long long message;
    std::string name;
};

// A GET on "/files/": the file's content, to be saved under `name`.
class MessageGet : public MessagesDownload {
public:
    MessageGet(Messages* instance, IDbFiles* store, unsigned long long id, const std::string& name);

private:
    void Accepted(IWebserverGet* get) override;
    IDbFilesGet* Open() override;

    IDbFiles* store;
    unsigned long long id;
    std::string name;
};

// A POST with "del": the file goes, with its content; the answer has no body.
class MessageDel : public MessagesFileTransfer, public UWebserverPost, public UTask {
public:
    MessageDel(Messages* instance, IDbFiles* store, unsigned long long id);
    ~MessageDel() override;

    void WebserverPostRequestAcceptComplete(IWebserverPost* post) override;
    void WebserverPostRecvResult(IWebserverPost*, void*, size_t) override {}
    void WebserverPostCloseComplete(IWebserverPost* post) override;
    void TaskComplete(ITask*) override { Deleted(true); }
    void TaskFailed(ITask*) override { Deleted(false); }

private:
    // NEW: waiting for the accept. DELETING: the store deletes the file.
    // DONE: the request is closing, or has closed while the store worked.
    // ENDED: deletion is queued.
    enum State { NEW, DELETING, DONE, ENDED };
    void SetState(State next);
    void Deleted(bool ok);
    void Settle();

    IDbFiles* store;
    unsigned long long id;
    State state = NEW;
    IWebserverPost* post = nullptr;
    ITask* task = nullptr;
};
