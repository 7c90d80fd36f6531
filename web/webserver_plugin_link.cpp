#include "web/webserver_plugin_link.h"

#include <string.h>

#include "runtime/assert.h"
#include "runtime/instance_log.h"
#include "web/webserver_get_handler.h"
#include "web/webserver_message_handler.h"
#include "web/webserver_set_certificate_handler.h"
#include "web/ws_registered_path.h"

namespace {
void* const EXEC_REPORT_CLOSE = (void*)1;

void DeleteAll(istd::list& list)
{
    while (istd::listElement* e = list.front()) delete e;
}
}  // namespace

WebserverPlugin::WebserverPlugin(IIoMux* iomux, ISocketProvider* localSocketProvider, UWebserverPlugin* owner,
                                 const char* localSocketPath, const char* appWebRoot, IInstanceLog* log)
    : iomux(iomux), provider(localSocketProvider), owner(owner), log(log),
      socketPath(localSocketPath ? localSocketPath : ""), reconnectTimer(iomux, this)
{
    const char* root = appWebRoot ? appWebRoot : "";
    ASSERT(strlen(root) <= WS_MAX_PATH_LEN, "WebserverPlugin web root too long");
    webRoot = root;
    if (webRoot.size() > 1 && webRoot.back() == '/') webRoot.pop_back();
    if (webRoot.empty() || webRoot[0] != '/') webRoot.insert(0, "/");
    Connect();
}

WebserverPlugin::~WebserverPlugin()
{
    // Handlers an owner still holds must not reach back into a deleted link.
    while (handlers) {
        WebserverMessageHandler* h = static_cast<WebserverMessageHandler*>(handlers);
        handlers = btree::btree_get(handlers, h);
        h->link = nullptr;
        if (h->ownedByLink) {
            WebserverGetHandler* get = static_cast<WebserverGetHandler*>(h);
            delete get->User();
            delete get;
        }
    }
    delete socket;
    DeleteAll(pendingRegistrations);
    DeleteAll(httpPaths);
    DeleteAll(passthroughPaths);
    DeleteAll(websocketPaths);
    DeleteAll(certificates);
}

void WebserverPlugin::Log(const char* fmt, ...)
{
    if (!log) return;
    va_list ap;
    va_start(ap, fmt);
    log->LogV(LOG_WEBSERVER_PLUGIN_LINK, fmt, ap);
    va_end(ap);
}

void WebserverPlugin::HandlerLog(const char* fmt, va_list ap)
{
    if (log) log->LogV(LOG_WEBSERVER_PLUGIN, fmt, ap);
}

void WebserverPlugin::SetState(State next)
{
    bool ok = false;
    switch (next) {
    case IDLE: ok = state != IDLE; break;
    case CONNECTING: ok = state == IDLE; break;
    case HEADER: ok = state == CONNECTING || state == HEADER || state == BODY; break;
    case BODY: ok = state == HEADER; break;
    case SHUTTING_DOWN: ok = state == CONNECTING || state == HEADER || state == BODY; break;
    }
    if (!ok) FATAL("WebserverPlugin impossible state change");
    state = next;
}

void WebserverPlugin::Connect()
{
    socket = provider->CreateSocket(iomux, this, log);
    SetState(CONNECTING);
    socket->Connect(socketPath.c_str());
}

void WebserverPlugin::TimerOnTimeout(ITimer*)
{
    Connect();
}

void WebserverPlugin::SocketConnectComplete(ISocket*)
{
    Log("WebserverPlugin(%08x)::SocketConnectComplete %s", (unsigned)(size_t)this, socketPath.c_str());
    reconnectDelay = FIRST_RECONNECT_DELAY_MS;
    recvBody.resize(WS_MAX_DATA_SIZE);
    SetState(HEADER);
    SendFrame(WS_LINK_CONNECTION_ID, WSM_SET_PLUGINS_WEB_ROOT, 1, webRoot.c_str(), webRoot.size() + 1);
    for (istd::list* list : {&httpPaths, &passthroughPaths, &websocketPaths})
        for (istd::listElement* e = list->front(); e; e = e->goNext())
            SendRegistration(static_cast<WSRegisteredPath*>(e));
    socket->Recv(header, sizeof(header));
    if (owner) owner->WebserverPluginConnected();
}

void WebserverPlugin::ReadHeader()
{
    SetState(HEADER);
    socket->Recv(header, sizeof(header));
}

void WebserverPlugin::SocketRecvResult(ISocket*, void*, size_t)
{
    if (state == HEADER) {
        frame = WsFrame::Decode(header);
        if (frame.dataSize > 0) {
            WebserverMessageHandler* h = FindHandler(frame.connectionId);
            // Request bodies go straight into the owner's buffer when they fit.
            void* direct = h ? h->BodyBuffer(frame) : nullptr;
            if (state != HEADER) return;
            bodyTarget = direct ? direct : recvBody.data();
            SetState(BODY);
            socket->Recv(bodyTarget, frame.dataSize);
            return;
        }
        Dispatch(nullptr);
    }
    else if (state == BODY) {
        Dispatch(bodyTarget);
        bodyTarget = nullptr;
    }
    // A socket asked to shut down may still deliver what was in flight; it is not wanted.
    if (state == HEADER || state == BODY) ReadHeader();
}

void WebserverPlugin::Dispatch(void* body)
{
    if (WebserverMessageHandler* h = FindHandler(frame.connectionId)) {
        // The handler may be deleted inside.
        h->HandleMessage(frame, body);
        return;
    }
    HandleLinkMessage(body);
}

void WebserverPlugin::SendFrame(unsigned connectionId, unsigned type, unsigned generalPurpose, const void* data,
                                size_t len)
{
    ASSERT(len <= WS_MAX_DATA_SIZE, "WebserverPlugin::SendFrame more than 65535 bytes");
    if (!Connected()) return;
    WsFrame f;
    f.connectionId = connectionId;
    f.type = (unsigned short)type;
    f.generalPurpose = generalPurpose;
    f.dataSize = (unsigned short)len;
    // A small frame goes out in one write: one system call and one wake-up of the webserver.
    unsigned char out[WsFrame::HEADER_SIZE + 4096];
    f.Encode(out);
    if (len <= sizeof(out) - WsFrame::HEADER_SIZE) {
        if (len) memcpy(out + WsFrame::HEADER_SIZE, data, len);
        socket->Send(out, WsFrame::HEADER_SIZE + len);
        return;
    }
    socket->Send(out, WsFrame::HEADER_SIZE);
    socket->Send(data, len);
}

void WebserverPlugin::LinkError(const char* what, const void* data, size_t len)
{
    // The webserver broke the protocol: start over on a fresh connection.
    Log("WebserverPlugin(%08x)::LinkError %s in %s - dropping the connection", (unsigned)(size_t)this, what,
        ws_message_name(frame.type));
    if (log && data && len) log->HexDump(LOG_WEBSERVER_PLUGIN_LINK, data, (unsigned)len);
    if (state == SHUTTING_DOWN) return;
    SetState(SHUTTING_DOWN);
    socket->Shutdown();
}

void WebserverPlugin::EndLink(wsp_close_reason_t reason)
{
    closing = true;
    closeReason = reason;
    reconnectTimer.Cancel();
    if (state == IDLE) ScheduleCloseReport();
    else if (state != SHUTTING_DOWN) {
        SetState(SHUTTING_DOWN);
        socket->Shutdown();
    }
}

void WebserverPlugin::Close()
{
    Log("WebserverPlugin(%08x)::Close", (unsigned)(size_t)this);
    if (closing) return;
    EndLink(WSP_NORMAL_CLOSE);
}

void WebserverPlugin::SocketShutdown(ISocket* s, shutdownreason_t reason)
{
    Log("WebserverPlugin(%08x)::SocketShutdown %s", (unsigned)(size_t)this, SocketShutdownReasonName(reason));
    if (!closing)
        closeReason = reason == SOCKET_SHUTDOWN_ADDRESS_INVALID ? WSP_ADDRESS_INVALID : WSP_CONNECTION_ERROR;
    delete s;
    socket = nullptr;
    SetState(IDLE);
    bodyTarget = nullptr;
    recvBody.clear();
    recvBody.shrink_to_fit();
    DeleteAll(pendingRegistrations);
    // Owners may call the link from these callbacks, even Close.
    while (handlers) {
        WebserverMessageHandler* h = static_cast<WebserverMessageHandler*>(handlers);
        RemoveHandler(h);
        h->WebserverPluginWillClose();
    }
    if (closing) {
        ScheduleCloseReport();
        return;
    }
    reconnectTimer.Start(reconnectDelay);
    if (reconnectDelay <= 59999) reconnectDelay *= 2;
}

void WebserverPlugin::ScheduleCloseReport()
{
    if (closeReportQueued) return;
    closeReportQueued = true;
    iomux->SetExec(this, EXEC_REPORT_CLOSE);
}

void WebserverPlugin::IoExec(void* param)
{
    if (param == EXEC_REPORT_CLOSE) ReportClose();
}

void WebserverPlugin::ReportClose()
{
    std::vector<UWebserverPlugin*> owners;
    if (owner) owners.push_back(owner);
    for (istd::list* list : {&httpPaths, &passthroughPaths, &websocketPaths})
        for (istd::listElement* e = list->front(); e; e = e->goNext()) {
            UWebserverPlugin* o = static_cast<WSRegisteredPath*>(e)->owner;
            bool known = false;
            for (UWebserverPlugin* k : owners) known = known || k == o;
            if (o && !known) owners.push_back(o);
        }
    wsp_close_reason_t reason = closeReason;
    // The last owner may delete this link; only locals are used from here on.
    for (size_t i = 0; i < owners.size(); i++) owners[i]->WebserverPluginClose(this, reason, i + 1 == owners.size());
}

void WebserverPlugin::RemoveHandler(WebserverMessageHandler* handler)
{
    unsigned id = handler->ConnectionId();
    if (btree::btree_find(handlers, &id) == handler) handlers = btree::btree_get(handlers, handler);
    WebserverMessageHandler*& recent = recentHandlers[id % RECENT_HANDLERS];
    if (recent == handler) recent = nullptr;
}

WebserverMessageHandler* WebserverPlugin::FindHandler(unsigned connectionId) const
{
    WebserverMessageHandler*& recent = recentHandlers[connectionId % RECENT_HANDLERS];
    if (recent && recent->ConnectionId() == connectionId) return recent;
    auto* found = static_cast<WebserverMessageHandler*>(btree::btree_find(handlers, &connectionId));
    if (found) recent = found;
    return found;
}

void WebserverPlugin::SendCertificate(const char* host, unsigned char* certificate, unsigned length,
                                      const char* password, UWebserverPlugin* to)
{
    // Nothing to hand the certificate to while the link is down; the result says it was taken anyway.
    auto* h = new WebserverSetCertificateHandler(iomux, this, to ? to : owner, certificate);
    certificates.push_back(h);
    h->Start(host, certificate, length, password);
}

void WebserverPlugin::CertificateDone(WebserverSetCertificateHandler* handler)
{
    delete handler;
}
