#pragma once

#include "web/webserver_get.h"

class HttpFile;

// Answers a GET for a file of the static table, on behalf of the link: the
// unchanged answer for a matching ETag, the first requested range, or the
// whole file, in parts of at most 65535 bytes. Deletes itself and its
// request when the request has closed.
class WebserverStaticFile : public UWebserverGet {
public:
    explicit WebserverStaticFile(const HttpFile* file) : file(file) {}

    void WebserverGetRequestAcceptComplete(IWebserverGet* get) override;
    void WebserverGetSendResult(IWebserverGet* get) override;
    void WebserverGetCloseComplete(IWebserverGet* get) override;

private:
    void SendNext(IWebserverGet* get);

    const HttpFile* file;
    unsigned long long next = 0;
    unsigned long long end = 0;
};
