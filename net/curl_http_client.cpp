#include "net/curl_http_client.h"

#include <string.h>

#include "runtime/assert.h"
#include "runtime/instance_log.h"

namespace {
// What the owner gets at most per block: the file store's chunk size, so a
// block goes to the store as it is.
const size_t BLOCK_SIZE = 64000;
// Enough for a moved resource behind a login or a CDN, short of a loop.
const long MAX_REDIRECTS = 5;
const long CONNECT_TIMEOUT_MS = 30000;
// A server that sends nothing for this long is given up.
const long STALL_SECONDS = 60;

bool IsHttpUrl(const char* url)
{
    if (!url) return false;
    CURLU* parsed = curl_url();
    char* scheme = nullptr;
    bool ok = curl_url_set(parsed, CURLUPART_URL, url, 0) == CURLUE_OK &&
              curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
              (!strcmp(scheme, "http") || !strcmp(scheme, "https"));
    curl_free(scheme);
    curl_url_cleanup(parsed);
    return ok;
}
}  // namespace

const char* HTTPClientShutdownReasonName(httpclient_shutdown_reason_t reason)
{
    switch (reason) {
    case HTTPCLIENT_SHUTDOWN_NORMAL: return "normal";
    case HTTPCLIENT_SHUTDOWN_URL_INVALID: return "url invalid";
    case HTTPCLIENT_SHUTDOWN_CONNECT_FAILED: return "connect failed";
    case HTTPCLIENT_SHUTDOWN_TLS_FAILED: return "tls failed";
    case HTTPCLIENT_SHUTDOWN_HTTP_STATUS: return "http status";
    case HTTPCLIENT_SHUTDOWN_TOO_MANY_REDIRECTS: return "too many redirects";
    case HTTPCLIENT_SHUTDOWN_IO_ERROR: return "i/o error";
    }
    return "unknown";
}

IHTTPClient* IHTTPClient::Create(IIoMux* iomux, UHTTPClient* user, IInstanceLog* log)
{
    return new CurlHTTPClient(iomux, user, log);
}

CurlHTTPClient::CurlHTTPClient(IIoMux* iomux, UHTTPClient* user, IInstanceLog* log)
    : iomux(iomux), user(user), log(log), multi(iomux, this)
{
}

CurlHTTPClient::~CurlHTTPClient()
{
    if (easy) {
        multi.Remove(easy);
        curl_easy_cleanup(easy);
    }
    curl_slist_free_all(headers);
}

void CurlHTTPClient::SetState(State next)
{
    bool ok;
    switch (next) {
    case IDLE: ok = state == ENDING; break;
    case CONNECTING: ok = state == IDLE; break;
    case READY: ok = state == CONNECTING; break;
    case TRANSFER: ok = state == READY; break;
    case ENDING: ok = state != IDLE && state != ENDING; break;
    default: ok = false; break;
    }
    ASSERT(ok, "CurlHTTPClient::SetState impossible transition");
    state = next;
}

void CurlHTTPClient::Queue()
{
    if (!IsQueued()) iomux->SetExec(this, nullptr);
}

void CurlHTTPClient::SetTrustedCertificates(const char* pemFile)
{
    trusted = pemFile ? pemFile : "";
}

void CurlHTTPClient::Connect(const char* url, const char* name, const char* password, unsigned authMethods)
{
    SetState(CONNECTING);
    reason = HTTPCLIENT_SHUTDOWN_NORMAL;
    status = 0;
    statusSeen = done = false;
    result = CURLE_OK;
    errorText[0] = 0;
    if (!IsHttpUrl(url)) return End(HTTPCLIENT_SHUTDOWN_URL_INVALID);
    easy = curl_easy_init();
    ASSERT(easy, "CurlHTTPClient::Connect curl_easy_init failed");
    curl_easy_setopt(easy, CURLOPT_URL, url);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MAX_REDIRECTS);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!trusted.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, trusted.c_str());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    // Timeouts run on curl's timer, never on signals.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, CONNECT_TIMEOUT_MS);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, STALL_SECONDS);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "messages");
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WriteFunction);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (name) {
        long methods = 0;
        if (authMethods & HTTP_AUTH_BASIC) methods |= CURLAUTH_BASIC;
        if (authMethods & HTTP_AUTH_DIGEST) methods |= CURLAUTH_DIGEST;
        if (authMethods & HTTP_AUTH_NTLM) methods |= CURLAUTH_NTLM;
        curl_easy_setopt(easy, CURLOPT_USERNAME, name);
        curl_easy_setopt(easy, CURLOPT_PASSWORD, password ? password : "");
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, methods);
    }
    // The connection itself is made with the request: curl reuses one it
    // keeps for the server, or opens one then.
    Queue();
}

void CurlHTTPClient::SetRequestType(http_request_type_t requestType, size_t length, const char* contentType)
{
    ASSERT(state == READY, "CurlHTTPClient::SetRequestType before HTTPClientConnectComplete");
    type = requestType;
    contentLength = length;
    curl_slist_free_all(headers);
    headers = nullptr;
    if (contentType) headers = curl_slist_append(headers, (std::string("Content-Type: ") + contentType).c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
}

void CurlHTTPClient::Send(const void* data, size_t length)
{
    ASSERT(state == READY, "CurlHTTPClient::Send before HTTPClientConnectComplete");
    ASSERT(length == contentLength && (data || !length), "CurlHTTPClient::Send length differs from SetRequestType");
    if (type == HTTP_POST) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, (curl_off_t)length);
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, length ? data : "");
    }
    else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    SetState(TRANSFER);
    multi.Add(easy);
}

void CurlHTTPClient::Recv()
{
    ASSERT(state == TRANSFER && !wanted, "CurlHTTPClient::Recv out of turn");
    if (held) block.clear();
    held = false;
    wanted = true;
    if (paused) {
        // curl hands over what it kept back at once, and reads on when it runs next.
        paused = false;
        curl_easy_pause(easy, CURLPAUSE_CONT);
        multi.Kick();
    }
    Queue();
}

void CurlHTTPClient::Shutdown()
{
    if (state == ENDING) return;
    ASSERT(state != IDLE, "CurlHTTPClient::Shutdown without an exchange");
    End(HTTPCLIENT_SHUTDOWN_NORMAL);
}

void CurlHTTPClient::End(httpclient_shutdown_reason_t why)
{
    if (why != HTTPCLIENT_SHUTDOWN_NORMAL && log)
        log->Log(LOG_HTTP_CLIENT, "CurlHTTPClient(%08x)::End %s status:%u %s", (unsigned)(size_t)this,
                 HTTPClientShutdownReasonName(why), status, errorText);
    SetState(ENDING);
    reason = why;
    if (easy) {
        multi.Remove(easy);
        curl_easy_cleanup(easy);
        easy = nullptr;
    }
    curl_slist_free_all(headers);
    headers = nullptr;
    block.clear();
    held = wanted = paused = false;
    Queue();
}

size_t CurlHTTPClient::WriteFunction(char* data, size_t size, size_t count, void* self)
{
    return static_cast<CurlHTTPClient*>(self)->Write(data, size * count);
}

size_t CurlHTTPClient::Write(const char* data, size_t length)
{
    // Redirects and authentication rounds never reach here: the first body
    // byte belongs to the final answer, so only a 2xx body is taken.
    if (!statusSeen) {
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        status = (unsigned)code;
        statusSeen = true;
    }
    if (status < 200 || status > 299) return 0;
    if (held || (!block.empty() && block.size() + length > BLOCK_SIZE)) {
        paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    block.insert(block.end(), data, data + length);
    return length;
}

void CurlHTTPClient::CurlMultiDone(CURL*, CURLcode code)
{
    done = true;
    result = code;
    long final = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &final);
    status = (unsigned)final;
    Queue();
}

void CurlHTTPClient::CurlMultiActed()
{
    if (wanted && !block.empty()) Queue();
}

httpclient_shutdown_reason_t CurlHTTPClient::Outcome() const
{
    switch (result) {
    case CURLE_OK:
    case CURLE_WRITE_ERROR: return status >= 200 && status <= 299 ? HTTPCLIENT_SHUTDOWN_NORMAL : HTTPCLIENT_SHUTDOWN_HTTP_STATUS;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT: return HTTPCLIENT_SHUTDOWN_URL_INVALID;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: return HTTPCLIENT_SHUTDOWN_CONNECT_FAILED;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return HTTPCLIENT_SHUTDOWN_TLS_FAILED;
    case CURLE_TOO_MANY_REDIRECTS: return HTTPCLIENT_SHUTDOWN_TOO_MANY_REDIRECTS;
    default: return HTTPCLIENT_SHUTDOWN_IO_ERROR;
    }
}

void CurlHTTPClient::IoExec(void*)
{
    switch (state) {
    case CONNECTING:
        SetState(READY);
        return user->HTTPClientConnectComplete(this);
    case TRANSFER: return Deliver();
    case ENDING:
        SetState(IDLE);
        return user->HTTPClientShutdown(this, reason);
    default: return;
    }
}

void CurlHTTPClient::Deliver()
{
    // Nothing is reported while the owner holds a block, not even a failure.
    if (held) return;
    if (done) {
        httpclient_shutdown_reason_t outcome = Outcome();
        if (outcome != HTTPCLIENT_SHUTDOWN_NORMAL) return End(outcome);
    }
    if (!wanted || (block.empty() && !done)) return;
    held = true;
    wanted = false;
    user->HTTPClientRecvResult(this, block.data(), block.size(), done);
}
