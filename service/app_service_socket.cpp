#include "service/app_service_socket.h"

#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>

#include "json/json_io.h"
#include "runtime/build_info.h"
#include "runtime/debug.h"
#include "service/app_args.h"
#include "service/app_instance.h"

namespace {
// No message the manager sends comes near this; larger bodies are skipped
// unread instead of allocated.
const unsigned MAX_BODY = 0x100000;
const unsigned short NONE = 0xFFFF;
}  // namespace

AppServiceSocket::AppServiceSocket(IIoMux* iomux, ISocketProvider* localSocketProvider, UAppServiceSocket* owner,
                                   const char* serviceId, const char* managerPath)
    : IInstanceLog(0x8001), iomux(iomux), owner(owner), serviceId(strdup(serviceId ? serviceId : ""))
{
    iomux->RegisterShutdownHandler(this);
    if (managerPath) {
        socket = localSocketProvider->CreateSocket(iomux, this, this);
        socket->Connect(managerPath);
    }
}

AppServiceSocket::~AppServiceSocket()
{
    // A service deleted before the loop's shutdown reached it must not be called then.
    iomux->ShutdownComplete(this);
    delete socket;
    free(body);
    free(serviceId);
}

void AppServiceSocket::SocketConnectComplete(ISocket*)
{
    connected = true;
    SendInitConnection();
    ReadHeader();
}

void AppServiceSocket::SendInitConnection()
{
    const char* build = messagesBuild;
    const char* label = messagesLabel;
    owner->AppServiceVersion(build, label);
    istd::list apps;
    owner->AppServiceApps(&apps);

    char out[65536];
    json_io msg(out);
    unsigned short root = msg.add_object(NONE, nullptr);
    msg.add_string(root, "mt", "AppServiceInitConnection");
    msg.add_string(root, "appServiceID", serviceId);
    unsigned short version = msg.add_object(root, "version");
    msg.add_string(version, "id", messagesVersion);
    msg.add_string(version, "build", build);
    msg.add_string(version, "label", label);
    unsigned short list = msg.add_array(root, "apps");
    for (istd::listElement* e = apps.front(); e; e = e->goNext()) {
        AppServiceApp* app = static_cast<AppServiceApp*>(e);
        unsigned short a = msg.add_object(list, nullptr);
        msg.add_string(a, "name", app->GetName());
        if (app->IsWebsocketOnly()) msg.add_bool(a, "wsOnly", true);
    }
    SendMessage(out, msg.encode());
    while (istd::listElement* e = apps.front()) delete e;
}

void AppServiceSocket::SendMessage(const char* json, unsigned short len)
{
    if (!socket || !connected) return;
    unsigned char header[4] = {0, 0, (unsigned char)(len >> 8), (unsigned char)len};
    socket->Send(header, 4);
    socket->Send(json, len);
}

void AppServiceSocket::ReadHeader()
{
    if (!socket) return;
    recvState = RECV_HEADER;
    socket->Recv(header, 4);
}

void AppServiceSocket::SocketRecvResult(ISocket*, void*, size_t len)
{
    switch (recvState) {
    case RECV_HEADER: {
        unsigned length = ((unsigned)header[0] << 24 | (unsigned)header[1] << 16 | (unsigned)header[2] << 8 | header[3]);
        if (length == 0) {
            ReadHeader();
        }
        else if (length > MAX_BODY) {
            Log(LOG_APP, "AppServiceSocket::SocketRecvResult skipping message of %u bytes", length);
            recvState = RECV_DISCARD;
            discardLeft = length;
            socket->Recv(discard, discardLeft < sizeof(discard) ? discardLeft : sizeof(discard));
        }
        else {
            free(body);
            body = (char*)malloc(length + 1);
            bodyLength = length;
            recvState = RECV_BODY;
            socket->Recv(body, length);
        }
        break;
    }
    case RECV_BODY:
        body[bodyLength] = 0;
        if (!stopReading) Dispatch(body);
        free(body);
        body = nullptr;
        ReadHeader();
        break;
    case RECV_DISCARD:
        discardLeft -= (unsigned)len;
        if (discardLeft == 0) ReadHeader();
        else socket->Recv(discard, discardLeft < sizeof(discard) ? discardLeft : sizeof(discard));
        break;
    }
}

void AppServiceSocket::Dispatch(char* text)
{
    json_io msg(text);
    if (!msg.decode()) {
        Log(LOG_APP, "AppServiceSocket::Dispatch dropping malformed message");
        return;
    }
    unsigned short root = msg.get_object(NONE, nullptr);
    const char* mt = root == NONE ? nullptr : msg.get_string(root, "mt");
    if (!mt) return;
    Log(LOG_APP, "AppServiceSocket::Dispatch %s", mt);

    if (!strcmp(mt, "AppStart")) {
        unsigned short instance = msg.get_object(root, "instance");
        if (instance != NONE) HandleAppStart(msg, instance);
    }
    else if (!strcmp(mt, "AppStop")) {
        unsigned short instance = msg.get_object(root, "instance");
        if (instance != NONE) owner->AppStop(msg.get_string(instance, "appName"), msg.get_string(instance, "appDomain"));
    }
    else if (!strcmp(mt, "AppServiceStop")) {
        stopReading = true;
        iomux->Shutdown();
    }
    else if (!strcmp(mt, "SetServiceLogging")) {
        HandleSetServiceLogging(msg);
    }
    else if (!strcmp(mt, "SetInstanceLogFlags")) {
        owner->AppSetLogFlags(msg.get_string(root, "appName"), msg.get_string(root, "appDomain"),
                              msg.get_ulong64(root, "logFlags"));
    }
    else if (!strcmp(mt, "SetCertificate")) {
        owner->UpdateServerCertificate(msg.get_string(root, "cert"));
    }
    else if (!strcmp(mt, "LogFilesDeleted")) {
        debug->ReOpenLogFile();
    }
    else if (!strcmp(mt, "AppPlatformDns")) {
        owner->UpdateAppPlatformDNSName(msg.get_string(root, "dns"));
    }
    else if (!strcmp(mt, "AppDomain")) {
        const char* appName = msg.get_string(root, "appName");
        const char* appDomain = msg.get_string(root, "appDomain");
        if (appName && appDomain)
            owner->AppDomain(appName, appDomain, msg.get_string(root, "domain"), msg.get_string(root, "pwd"));
    }
    else if (!strcmp(mt, "SetLogging")) {
        debug->SetLogging(msg.get_bool(root, "enable"));
    }
}

void AppServiceSocket::HandleAppStart(json_io& msg, unsigned short instance)
{
    AppInstanceArgs args;
    args.appName = msg.get_string(instance, "appName");
    args.appDomain = msg.get_string(instance, "appDomain");
    args.appPassword = msg.get_string(instance, "appPassword");
    args.webserver = msg.get_string(instance, "webserver");
    args.webserverPath = msg.get_string(instance, "webserverPath");
    args.dbHost = msg.get_string(instance, "dbHost");
    args.dbName = msg.get_string(instance, "dbName");
    args.dbUser = msg.get_string(instance, "dbUser");
    args.dbPassword = msg.get_string(instance, "dbPassword");
    args.workingPath = msg.get_string(instance, "workingPath");
    args.logFlags = msg.get_ulong64(instance, "logFlags");
    owner->AppStart(&args);
}

void AppServiceSocket::HandleSetServiceLogging(json_io& msg)
{
    unsigned short root = 0;
    bool present = false;
    bool disable = msg.get_bool(root, "disableHexdumps", &present);
    if (present) debug->SetHexdump(!disable);
    unsigned logSize = msg.get_unsigned(root, "logSize", &present);
    if (present && logSize) debug->SetLogFileSize((long)logSize);
    logFlags = msg.get_ulong64(root, "logFlags");
    owner->AppSetLogFlags(nullptr, nullptr, logFlags);
}

void AppServiceSocket::AppsClosed()
{
    appsClosed = true;
    if (shutdownRequested) Shutdown();
}

void AppServiceSocket::Shutdown()
{
    shutdownRequested = true;
    if (!appsClosed) {
        owner->AppServiceShutdown();
        return;
    }
    if (connected) {
        char out[512];
        json_io msg(out);
        unsigned short root = msg.add_object(NONE, nullptr);
        msg.add_string(root, "mt", "AppServiceCloseComplete");
        msg.add_string(root, "appServiceID", serviceId);
        SendMessage(out, msg.encode());
        connected = false;
        // The manager answers by closing; our SocketShutdown then ends the loop.
    }
    else if (!socket && !shutdownReported) {
        shutdownReported = true;
        iomux->ShutdownComplete(this);
    }
}

void AppServiceSocket::ShutdownTimeout()
{
    const char* name = owner->GetAppName();
    const char* domain = owner->GetAppDomain();
    Log(LOG_APP, "AppServiceSocket::ShutdownTimeout %s %s %s %d %d %d", serviceId, name ? name : "",
        domain ? domain : "", !appsClosed, connected, socket != nullptr);
    if (!appsClosed) owner->AppServiceShutdownTimeout();
}

void AppServiceSocket::SocketShutdown(ISocket* s, shutdownreason_t reason)
{
    Log(LOG_APP, "AppServiceSocket::SocketShutdown %s", SocketShutdownReasonName(reason));
    delete s;
    socket = nullptr;
    connected = false;
    iomux->Shutdown();
}
