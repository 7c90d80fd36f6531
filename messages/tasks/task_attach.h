#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "net/http_client.h"
#include "runtime/btree.h"
#include "runtime/iomux.h"
#include "runtime/task.h"

class IDbFiles;
class IDbFilesPut;
class IInstanceLog;
class MessagesCommon;
class TaskReadFileBuffer;

// Fetches the files a new message names in its "attach" (URLs separated by
// blanks) into the file store, in the message's folder, one after another,
// each written as it arrives. "attached" then lists each stored file as
// "ID/NAME" (the name percent-encoded), blank-separated, and
// "UPDATE messages SET attached=..." stores the list.
// The blocks of a URL come from one of two sources: a URL that names one of
// the instance's own upload buffers under an address of the posting session
// is read from the buffer tables, so that it never goes out to the network
// and back through the webserver; any other is fetched on one HTTP client.
// A URL that cannot be fetched or read (a wrong key, an unknown buffer) is
// skipped, its partly stored file deleted, and the rest of the list goes on:
// one dead link does not lose the other files. Only http and https URLs are
// fetched; anything else fails like a dead link. Once the instance's
// database or store is no longer the one the task began with, or Stop was
// asked, nothing further is fetched; what was stored is still listed while
// the database takes it.
// A node of the instance's tree of pending attachments, by message id.
// Reports on the loop; the owner deletes the task after its callback.
class TaskAttach : public ITask, public UTask, public UHTTPClient, public UDatabase, public UIoExec, public btree {
public:
    // At most this many files per message: what "Attachments" lists.
    static const unsigned MAX_FILES = 100;

    // bases: where the posting session reaches the instance, its address
    // ("http://HOST/WEBPATH") and its web path alone; a URL that is one of
    // them followed by "/buffer/ID/KEY/NAME" names one of our buffers.
    TaskAttach(MessagesCommon* instance, IInstanceLog* log, unsigned long long id, const char* attach,
               std::vector<std::string> bases);
    ~TaskAttach() override;
    void Start(UTask* owner) override;
    // Ends the fetch under way; nothing further is stored.
    void Stop() override;

    unsigned long long Id() const { return id; }
    // The URL list, for readers while "attached" is not written yet.
    const char* Attach() const { return attach.c_str(); }

    int btree_compare(void* key) override;
    int btree_compare(btree* other) override;

    // The store's name of the file at `url`: its last path segment,
    // URL-decoded, at most 255 bytes; a segment that does not decode to
    // printable UTF-8 stays as it is, and an empty one becomes "file".
    static std::string FileName(const char* url);

private:
    // CONNECTING: the source opens (the client connects; the buffer's key is
    // checked and its first block read). RECEIVING: a block is asked for.
    // OPENING: the first block is in hand and the file is being created.
    // WRITING: a block is being stored. CLOSING: the source ends the fetch.
    // DISCARDING: a partly stored file is deleted. UPDATING: "attached" is
    // written. DONE: reported.
    enum State { IDLE, CONNECTING, RECEIVING, OPENING, WRITING, CLOSING, DISCARDING, UPDATING, DONE };

    void SetState(State next);
    // The instance still has the database and store the task began with.
    bool Unchanged() const;
    // Unchanged, and not asked to stop: worth another step.
    bool Usable() const;
    void NextUrl();
    // The current URL's path below the web path when it names one of our
    // buffers under one of the bases.
    bool OwnBuffer(std::string& resource) const;
    // The source of the current URL's blocks: Open starts it, Receive asks
    // it for the next block, each block goes to Block (the last one marked,
    // maybe empty), and Close ends it; Closed follows once it has ended.
    void Open();
    void Receive();
    void Block(const unsigned char* data, size_t length, bool last);
    void Close();
    void Closed();
    void Write();
    // The current URL has failed: the fetch ends, and what was stored goes.
    void Abandon();
    // The put of the current URL goes; its file is to be deleted.
    void DropPut();
    void Discard();
    void Discarded();
    void Finish();
    void End(bool failed);

    void IoExec(void* param) override;
    void HTTPClientConnectComplete(IHTTPClient* client) override;
    void HTTPClientRecvResult(IHTTPClient* client, const unsigned char* buffer, size_t length, bool last) override;
    void HTTPClientShutdown(IHTTPClient* client, httpclient_shutdown_reason_t reason) override;
    void TaskComplete(ITask* task) override;
    void TaskFailed(ITask* task) override;
    void TaskProgress(ITask* task, unsigned progress) override;
    void DatabaseError(IDatabase* db, db_error_t error) override;
    void DatabaseExecSQLResult(IDatabase* db, IDataSet* dataSet) override;

    MessagesCommon* instance;
    IInstanceLog* log;
    unsigned long long id;
    std::string attach;
    std::vector<std::string> bases;
    State state = IDLE;
    // Taken at Start; each step first checks that the instance still has them.
    IDatabase* database = nullptr;
    IDbFiles* store = nullptr;
    IHTTPClient* client = nullptr;
    // The source of the current URL when it is one of our buffers.
    TaskReadFileBuffer* reader = nullptr;
    // Where the next URL begins in `attach`, and how many were taken.
    size_t next = 0;
    unsigned files = 0;
    std::string url;
    std::string name;
    IDbFilesPut* put = nullptr;
    ITask* del = nullptr;
    // The file of a failed URL that is to be deleted once its fetch has ended.
    unsigned long long discard = 0;
    // The block in hand: valid until the source is asked for the next.
    const unsigned char* block = nullptr;
    size_t blockLength = 0;
    bool blockLast = false;
    std::string attached;
};
