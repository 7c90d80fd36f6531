#include "web/webserver_static_file.h"

#include <string.h>

#include "runtime/build_info.h"
#include "web/httpfile.h"

namespace {
// An entity tag as a client sends it back: maybe weak, maybe quoted.
bool SameETag(const char* requested, const char* etag)
{
    if (!requested) return false;
    if (!strncmp(requested, "W/", 2)) requested += 2;
    size_t n = strlen(requested);
    if (n >= 2 && requested[0] == '"' && requested[n - 1] == '"') {
        requested++;
        n -= 2;
    }
    return n == strlen(etag) && !strncmp(requested, etag, n);
}

bool EndsWith(const char* name, const char* suffix)
{
    size_t n = strlen(name), k = strlen(suffix);
    return n >= k && !strcmp(name + n - k, suffix);
}

// The table is served below the build's folder, so a numbered build's files
// never change under their address and need no revalidation. A developer
// build keeps its folder across builds; a page may be an address someone
// kept, which must lead to the current build.
const char* Freshness(const HttpFile* file)
{
    return messagesNumberedBuild && !EndsWith(file->Name(), ".htm") ? "max-age=31536000, immutable" : "no-cache";
}
}  // namespace

void WebserverStaticFile::WebserverGetRequestAcceptComplete(IWebserverGet* get)
{
    unsigned long long size = file->Length();
    get->SetHeaderField("Cache-Control", Freshness(file));
    if (SameETag(get->GetETag(), file->ETag())) {
        get->SetTransferInfo(WSP_INT_UNCHANGED, 0, 0, file->ETag());
        get->Close();
        return;
    }
    unsigned long long first = 0, last = size ? size - 1 : 0;
    bool ranged = get->GetRangeCount() > 0;
    if (ranged) {
        HTTPRange r = get->GetRange(0);
        switch (r.kind) {
        case HTTP_RANGE_START_END:
            first = r.start;
            last = r.end < size ? r.end : size - 1;
            break;
        case HTTP_RANGE_FROM_START:
            first = r.start;
            last = size - 1;
            break;
        case HTTP_RANGE_LAST:
            first = size - (r.start < size ? r.start : size);
            last = size - 1;
            break;
        default:
            get->Cancel(WSP_CANCEL_BAD_REQUEST);
            return;
        }
        // An empty file has no byte to start at: size - 1 wrapped to all ones.
        if (size == 0 || first > last) {
            get->Cancel(WSP_CANCEL_BAD_REQUEST);
            return;
        }
    }
    bool oneByte = ranged && first == last;
    get->SetTransferInfo(file->Type(), size, file->Gzip() && !oneByte ? WSR_FLAG_GZIP : 0, file->ETag());
    if (ranged) get->SetTransferRange(first, last);
    if (EndsWith(file->Name(), ".ttf")) get->SetHeaderField("Access-Control-Allow-Origin", "*");
    next = first;
    end = size ? last + 1 : 0;
    SendNext(get);
}

void WebserverStaticFile::WebserverGetSendResult(IWebserverGet* get)
{
    SendNext(get);
}

void WebserverStaticFile::SendNext(IWebserverGet* get)
{
    if (next >= end) {
        get->Close();
        return;
    }
    unsigned long long n = end - next;
    if (n > WS_MAX_DATA_SIZE) n = WS_MAX_DATA_SIZE;
    const unsigned char* from = file->Content() + next;
    next += n;
    get->Send(from, (size_t)n);
}

void WebserverStaticFile::WebserverGetCloseComplete(IWebserverGet* get)
{
    delete get;
    delete this;
}
