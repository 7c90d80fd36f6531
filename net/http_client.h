#pragma once

#include <stddef.h>

class IHTTPClient;
class IIoMux;
class IInstanceLog;

// How one exchange ended; reported once through UHTTPClient::HTTPClientShutdown.
enum httpclient_shutdown_reason_t {
    HTTPCLIENT_SHUTDOWN_NORMAL = 0,             // Shutdown() was asked for
    HTTPCLIENT_SHUTDOWN_URL_INVALID = 1,        // not an http:// or https:// URL that can be used
    HTTPCLIENT_SHUTDOWN_CONNECT_FAILED = 2,     // name not resolved, refused, unreachable
    HTTPCLIENT_SHUTDOWN_TLS_FAILED = 3,         // handshake failed or the certificate is not trusted
    HTTPCLIENT_SHUTDOWN_HTTP_STATUS = 4,        // the final answer was not 2xx (see GetStatus)
    HTTPCLIENT_SHUTDOWN_TOO_MANY_REDIRECTS = 5,
    HTTPCLIENT_SHUTDOWN_IO_ERROR = 6,           // the exchange broke off or timed out
};

const char* HTTPClientShutdownReasonName(httpclient_shutdown_reason_t reason);

enum http_request_type_t {
    HTTP_GET = 0,
    HTTP_POST = 1,
};

// Authentication methods a server may ask for (Connect's authMethods).
inline constexpr unsigned HTTP_AUTH_BASIC = 0x1;
inline constexpr unsigned HTTP_AUTH_DIGEST = 0x2;
inline constexpr unsigned HTTP_AUTH_NTLM = 0x4;

// The owner's side of a client. Every callback comes on a later loop pass
// than the call that caused it. Inside a callback the owner may call any
// operation the state allows; it may delete the client in any callback.
// Elsewhere it deletes the client from a deferred call or a timer, not from
// another descriptor's event: that pass may still hold an event for one of
// the client's sockets.
class UHTTPClient {
public:
    virtual ~UHTTPClient() {}
    // Ready for the request: SetRequestType, then Send.
    virtual void HTTPClientConnectComplete(IHTTPClient* client) = 0;
    // One block of the response body, for the Recv that asked for it; valid
    // until the next Recv or Shutdown. `last` marks the end of the body (the
    // block may then be empty); the owner then calls Shutdown.
    virtual void HTTPClientRecvResult(IHTTPClient* client, const unsigned char* buffer, size_t length, bool last) = 0;
    // The exchange has ended; Connect may begin the next one. A failure is
    // reported only while the owner holds no block (after Connect, Send or
    // Recv), so a block in hand is never cut short by it.
    virtual void HTTPClientShutdown(IHTTPClient* client, httpclient_shutdown_reason_t reason) = 0;
};

// One exchange at a time with an HTTP or HTTPS server, on the event loop:
// nothing blocks and no thread of ours is needed. Redirects are followed a
// few times; certificates are verified. The body is handed over a block at a
// time as it arrives and the transfer waits while the owner holds a block, so
// memory stays bounded whatever the size. Connections are kept for the next
// exchange with the same server.
class IHTTPClient {
public:
    // log may be null.
    static IHTTPClient* Create(IIoMux* iomux, UHTTPClient* user, IInstanceLog* log);
    virtual ~IHTTPClient() {}
    // Begins an exchange with the server of `url`. user and password answer
    // servers that ask for one of `authMethods` (HTTP_AUTH_*); null for none.
    virtual void Connect(const char* url, const char* user, const char* password, unsigned authMethods) = 0;
    // The request: method, the length of the body Send gives (0: none) and
    // its content type (null: none).
    virtual void SetRequestType(http_request_type_t type, size_t contentLength, const char* contentType) = 0;
    // The whole request body (null with no body); the request goes out.
    virtual void Send(const void* data, size_t length) = 0;
    // Asks for the next block of the response body; one at a time.
    virtual void Recv() = 0;
    // Ends the exchange, breaking the transfer off if it still runs.
    virtual void Shutdown() = 0;
    // The HTTP status of the final answer; 0 before it came.
    virtual unsigned GetStatus() const = 0;
    // Trusted certificates (a PEM file) in place of the system's, for the
    // exchanges that follow.
    virtual void SetTrustedCertificates(const char* pemFile) = 0;
};
