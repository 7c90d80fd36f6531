#pragma once

#include <curl/curl.h>

#include <string>
#include <vector>

#include "net/curl_multi.h"
#include "net/http_client.h"

// IHTTPClient on libcurl's multi interface, one exchange at a time. The body
// gathers in one block while the owner waits for it; while the owner holds a
// block, or the block is full, the transfer is paused and the kernel's
// buffers and TCP's flow control hold the rest back.
class CurlHTTPClient : public IHTTPClient, public UCurlMulti, public UIoExec {
public:
    CurlHTTPClient(IIoMux* iomux, UHTTPClient* user, IInstanceLog* log);
    ~CurlHTTPClient() override;

    void Connect(const char* url, const char* user, const char* password, unsigned authMethods) override;
    void SetRequestType(http_request_type_t type, size_t contentLength, const char* contentType) override;
    void Send(const void* data, size_t length) override;
    void Recv() override;
    void Shutdown() override;
    unsigned GetStatus() const override { return status; }
    void SetTrustedCertificates(const char* pemFile) override;

    void CurlMultiDone(CURL* easy, CURLcode result) override;
    void CurlMultiActed() override;
    void IoExec(void* param) override;

private:
    // IDLE: no exchange. CONNECTING: the connect result is queued. READY:
    // waiting for the request. TRANSFER: the request is out, the body comes.
    // ENDING: the exchange is over and its end is queued for the owner.
    enum State { IDLE, CONNECTING, READY, TRANSFER, ENDING };

    static size_t WriteFunction(char* data, size_t size, size_t count, void* self);
    size_t Write(const char* data, size_t length);
    void SetState(State next);
    // Ends the exchange now; the owner hears of it on a later pass.
    void End(httpclient_shutdown_reason_t why);
    void Deliver();
    void Queue();
    httpclient_shutdown_reason_t Outcome() const;

    IIoMux* iomux;
    UHTTPClient* user;
    IInstanceLog* log;
    CurlMulti multi;
    State state = IDLE;
    httpclient_shutdown_reason_t reason = HTTPCLIENT_SHUTDOWN_NORMAL;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    http_request_type_t type = HTTP_GET;
    size_t contentLength = 0;
    std::string trusted;
    char errorText[CURL_ERROR_SIZE] = {};

    // The body received and not yet handed over, or handed over and held by
    // the owner until its next Recv.
    std::vector<unsigned char> block;
    bool held = false;
    bool wanted = false;
    bool paused = false;
    bool statusSeen = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    unsigned status = 0;
};
