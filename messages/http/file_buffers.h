#pragma once

#include <string>

#include "messages/http/download.h"
#include "messages/http/upload.h"

class IDatabase;
class IIoMux;

// Upload buffers over HTTP: "/buffer/ID/KEY/NAME" names a buffer by its id
// and key, which the client got with "CreateFileBufferResult". A wrong key
// is not found. The database is the one the instance had when the request
// came; the instance keeps it until every request holding it has ended.

// A POST: the body is appended to the buffer. Browsers post from pages of
// other origins, so the answer allows any.
class MessagesFileBufferPost : public MessagesUpload {
public:
    MessagesFileBufferPost(Messages* instance, IDatabase* database, unsigned long long id, const std::string& key);

private:
    void Accepted(IWebserverPost* post) override;
    IDbFilesPut* Open() override;
    ITask* Discard(IDbFilesPut* file) override;

    IDatabase* database;
    unsigned long long id;
    std::string key;
};

// A GET: the buffer's content (the name in the path only names it for the browser).
class MessagesFileBufferGet : public MessagesDownload {
public:
    MessagesFileBufferGet(Messages* instance, IDatabase* database, unsigned long long id, const std::string& key);

private:
    void Accepted(IWebserverGet* get) override;
    IDbFilesGet* Open() override;

    IDatabase* database;
    unsigned long long id;
    std::string key;
};
