#pragma once

#include <stdarg.h>

#include <string>
#include <vector>

#include "net/socket.h"
#include "runtime/btree.h"
#include "runtime/iomux.h"
#include "runtime/istd_list.h"
#include "runtime/timer.h"
#include "web/webserver_plugin.h"
#include "web/ws_frame.h"

class ExtendedHeaderDecoder;
class HttpFile;
class WebserverMessageHandler;
class WebserverSetCertificateHandler;
class WSRegisteredPath;
struct WebserverRequestInfo;

// The link of one app instance to the platform webserver: one Unix socket,
// every request multiplexed on it by connection id. Lost connections are
// retried with a doubling delay and every registration is sent again.
class WebserverPlugin : public IWebserverPlugin, public USocket, public UTimer, public UIoExec {
public:
    static const unsigned long FIRST_RECONNECT_DELAY_MS = 1000;

    WebserverPlugin(IIoMux* iomux, ISocketProvider* localSocketProvider, UWebserverPlugin* owner,
                    const char* localSocketPath, const char* appWebRoot, IInstanceLog* log);
    ~WebserverPlugin() override;

    void SendCertificate(const char* host, unsigned char* certificate, unsigned length, const char* password,
                         UWebserverPlugin* owner) override;
    void HttpListen(const char* path, UWebserverPlugin* owner, const char* authUser, const char* authPassword,
                    const char* staticFilePrefix) override;
    void HttpListen(const char* path, UWebserverPlugin* owner, bool dynamicAuthentication,
                    const char* staticFilePrefix) override;
    void PassthroughListen(const char* path, UWebserverPlugin* owner) override;
    void WebsocketListen(const char* path, UWebserverPlugin* owner) override;
    void SetAuthConfig(const char* path, const char* user, const char* password) override;
    void SetAuthConfig(const char* path, bool dynamicAuthentication) override;
    void Cancel(wsr_cancel_type_t reason) override;
    void Redirect(const char* newDestination) override;
    bool BuildRedirect(const char* resource, const char* build, unsigned buildLength) override;
    void Accept(UWebserverGet* user) override;
    void Accept(UWebserverPost* user) override;
    void Accept(UWebserverPut* user) override;
    void Accept(UWebserverPassthrough* user) override;
    void Accept(UWebserverPropfind* user) override;
    void Accept(UWebserverMove* user) override;
    void Accept(UWebserverMkCol* user) override;
    void Accept(UWebserverCopy* user) override;
    void Accept(UWebserverDelete* user) override;
    void Accept(UWebserverLock* user) override;
    void Accept(UWebserverUnlock* user) override;
    void Accept(UWebserverProppatch* user) override;
    void Accept(UWebserverOptions* user) override;
    void WebsocketAccept(UWebsocket* user) override;
    void RequestUserPasswordResult(unsigned id, const char* user, const char* password) override;
    void Close() override;

    void SocketConnectComplete(ISocket* socket) override;
    void SocketRecvResult(ISocket* socket, void* buf, size_t len) override;
    void SocketShutdown(ISocket* socket, shutdownreason_t reason) override;
    void TimerOnTimeout(ITimer* timer) override;
    void IoExec(void* param) override;

    // For the handlers.
    void SendFrame(unsigned connectionId, unsigned type, unsigned generalPurpose, const void* data, size_t len);
    void RemoveHandler(WebserverMessageHandler* handler);
    void HandlerLog(const char* fmt, va_list ap);
    bool IsWide() const { return wide; }
    void CertificateDone(WebserverSetCertificateHandler* handler);

    const std::string& WebRoot() const { return webRoot; }

private:
    // IDLE: no socket (waiting to reconnect, or closed). SHUTTING_DOWN: the
    // socket was asked to end and its shutdown callback is due.
    enum State { IDLE = 0, CONNECTING = 1, HEADER = 3, BODY = 4, SHUTTING_DOWN = 5 };
    // How an offered request reaches its owner.
    enum OfferKind { OFFER_HTTP, OFFER_PASSTHROUGH, OFFER_WEBSOCKET };

    void SetState(State next);
    bool Connected() const { return state == HEADER || state == BODY; }
    void Connect();
    void ReadHeader();
    void Dispatch(void* body);
    void LinkError(const char* what, const void* data, size_t len);
    void EndLink(wsp_close_reason_t reason);
    void ScheduleCloseReport();
    void ReportClose();
    void Log(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    // Paths (webserver_plugin_paths.cpp).
    std::string FullPath(const char* relative, std::string& relativeOut) const;
    void AddPath(istd::list& list, wsp_path_type_t type, const char* path, UWebserverPlugin* owner,
                 const char* authUser, const char* authPassword, const char* staticFilePrefix);
    void SendRegistration(WSRegisteredPath* path);
    WSRegisteredPath* FindPath(const istd::list& list, const char* fullPath) const;
    UWebserverPlugin* OwnerOf(const WSRegisteredPath* path) const;
    void HandleRegisterResult(const WsFrame& frame);
    void HandleSetAuthConfigResult(const WsFrame& frame, const ExtendedHeaderDecoder& header);
    void HandleRequestUserPassword(const WsFrame& frame, const ExtendedHeaderDecoder& header);

    // Requests (webserver_plugin_recv.cpp).
    void HandleLinkMessage(void* body);
    WebserverRequestInfo RequestInfo(const ExtendedHeaderDecoder& header, const WSRegisteredPath* path) const;
    void HandleGetRequest(const ExtendedHeaderDecoder& header);
    void HandleRequest(const ExtendedHeaderDecoder& header);
    void HandleWebsocketListenResult(const ExtendedHeaderDecoder& header);
    WebserverMessageHandler* FindHandler(unsigned connectionId) const;

    // Offers (webserver_plugin_offer.cpp).
    void Offer(WebserverMessageHandler* handler, OfferKind kind, UWebserverPlugin* to);
    void AcceptStatic(WebserverMessageHandler* handler, const HttpFile* file);
    WebserverMessageHandler* Offered(unsigned requestType, const char* what) const;
    void Bind(WebserverMessageHandler* handler);
    void Refuse(const char* userType);
    void DropOffered();
    template <class H, class U> void AcceptAs(U* user, unsigned requestType, const char* userType);

    IIoMux* iomux;
    ISocketProvider* provider;
    UWebserverPlugin* owner;
    IInstanceLog* log;
    ISocket* socket = nullptr;
    std::string socketPath;
    std::string webRoot;
    State state = IDLE;
    bool closing = false;
    bool closeReportQueued = false;
    wsp_close_reason_t closeReason = WSP_NORMAL_CLOSE;
    bool wide = false;
    ITimer reconnectTimer;
    unsigned long reconnectDelay = FIRST_RECONNECT_DELAY_MS;

    // The receiving message: its header, and where its body goes.
    unsigned char header[WsFrame::HEADER_SIZE];
    WsFrame frame;
    std::vector<unsigned char> recvBody;
    void* bodyTarget = nullptr;

    istd::list httpPaths;
    istd::list passthroughPaths;
    istd::list websocketPaths;
    istd::list pendingRegistrations;
    istd::list certificates;
    btree* handlers = nullptr;
    // In front of the tree, by connection id modulo its size: the frames of
    // thousands of websockets find their handler without a walk down the
    // tree, which was a fifteenth of the service's time under load.
    static const unsigned RECENT_HANDLERS = 4096;
    mutable WebserverMessageHandler* recentHandlers[RECENT_HANDLERS] = {};

    // The request inside its listen callback, and what the owner did with it.
    WebserverMessageHandler* offered = nullptr;
    WebserverMessageHandler* offerAccepted = nullptr;
    WebserverMessageHandler* offerDropped = nullptr;
};
