#include "platform/manager/platform_manager.h"

#include <arpa/inet.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "json/json_io.h"

namespace {
const unsigned short NONE = 0xFFFF;
}

PlatformManager::PlatformManager(IIoMux* iomux, ISocketProvider* local, const std::string& socketPath,
                                 const std::vector<Instance>& instances)
    : iomux(iomux), local(local), socketPath(socketPath), instances(instances)
{
    iomux->RegisterShutdownHandler(this);
    iomux->RegisterChildExitedHandler(this);
}

PlatformManager::~PlatformManager()
{
    iomux->UnRegisterChildExitedHandler(this);
    delete service;
    delete listener;
    unlink(socketPath.c_str());
}

bool PlatformManager::Listen()
{
    listener = local->CreateSocket(iomux, this, nullptr);
    return listener->Listen(socketPath.c_str());
}

bool PlatformManager::StartChild(const std::string& executable, const std::vector<std::string>& extraArgs)
{
    std::vector<std::string> args = {executable, "--manager=" + socketPath};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    int pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // The service handles these itself; do not pass on our dispositions.
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_IGN);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    childPid = pid;
    childRunning = true;
    printf("platform-manager: started %s as pid %d\n", executable.c_str(), pid);
    fflush(stdout);
    return true;
}

void PlatformManager::SocketAcceptComplete(ISocket*)
{
    while (ISocket* s = listener->Accept(this)) {
        if (service) {
            // One service per manager socket.
            s->Shutdown();
            continue;
        }
        service = s;
        readingHeader = true;
        service->Recv(header, 4);
    }
}

void PlatformManager::SocketRecvResult(ISocket* s, void*, size_t)
{
    if (s != service) return;
    if (readingHeader) {
        unsigned len = ((unsigned)header[0] << 24 | (unsigned)header[1] << 16 | (unsigned)header[2] << 8 | header[3]);
        if (len > 0x100000) {
            printf("platform-manager: message of %u bytes, closing\n", len);
            fflush(stdout);
            service->Shutdown();
            return;
        }
        body.assign(len + 1, 0);
        if (len == 0) {
            service->Recv(header, 4);
            return;
        }
        readingHeader = false;
        service->Recv(body.data(), len);
        return;
    }
    readingHeader = true;
    body.back() = 0;
    printf("platform-manager: received %s\n", body.data());
    fflush(stdout);
    Handle(body.data());
    if (service) service->Recv(header, 4);
}

void PlatformManager::Handle(char* text)
{
    json_io msg(text);
    if (!msg.decode()) return;
    const char* mt = msg.get_string(0, "mt");
    if (!mt) return;
    if (!strcmp(mt, "AppServiceInitConnection")) {
        for (const Instance& i : instances) SendAppStart(i);
        if (stopRequested) SendStop();
    }
    else if (!strcmp(mt, "AppServiceCloseComplete")) {
        closeComplete = true;
        // Closing the connection is the manager's answer.
        service->Shutdown();
    }
}

void PlatformManager::Send(const char* json, unsigned short len)
{
    if (!service) return;
    uint32_t header = htonl(len);
    service->Send(&header, 4);
    service->Send(json, len);
}

void PlatformManager::SendAppStart(const Instance& i)
{
    char out[8192];
    char tmp[64];
    char* t = tmp;
    json_io msg(out);
    unsigned short root = msg.add_object(NONE, nullptr);
    msg.add_string(root, "mt", "AppStart");
    unsigned short inst = msg.add_object(root, "instance");
    msg.add_string(inst, "appName", i.name.c_str());
    msg.add_string(inst, "appDomain", i.domain.c_str());
    msg.add_string(inst, "appPassword", i.password.c_str());
    msg.add_string(inst, "webserver", i.webserver.c_str());
    msg.add_string(inst, "webserverPath", i.path.c_str());
    msg.add_string(inst, "dbHost", i.dbHost.c_str());
    msg.add_string(inst, "dbName", i.dbName.c_str());
    msg.add_string(inst, "dbUser", i.dbUser.c_str());
    msg.add_string(inst, "dbPassword", i.dbPassword.c_str());
    msg.add_ulong64(inst, "logFlags", i.logFlags, t);
    Send(out, msg.encode());
}

void PlatformManager::SendStop()
{
    stopSent = true;
    char out[64];
    json_io msg(out);
    unsigned short root = msg.add_object(NONE, nullptr);
    msg.add_string(root, "mt", "AppServiceStop");
    Send(out, msg.encode());
}

void PlatformManager::Shutdown()
{
    if (!stopRequested) {
        printf("platform-manager: stopping the service\n");
        fflush(stdout);
    }
    stopRequested = true;
    if (service && !closeComplete && !stopSent) SendStop();
    CheckDone();
}

void PlatformManager::SocketShutdown(ISocket* s, shutdownreason_t)
{
    if (s == service) {
        service = nullptr;
        printf("platform-manager: service connection closed\n");
        fflush(stdout);
        delete s;
        // A service that went away on its own ends the manager too.
        iomux->Shutdown();
        return;
    }
    if (s == listener) listener = nullptr;
    delete s;
}

void PlatformManager::ChildExited(int pid, int sig, int code, bool crashed)
{
    if (pid != childPid) return;
    childRunning = false;
    printf("platform-manager: child %d exited (signal %d, code %d%s)\n", pid, sig, code, crashed ? ", crashed" : "");
    fflush(stdout);
    if (sig || code) exitCode = 1;
    iomux->Shutdown();
}

void PlatformManager::CheckDone()
{
    if (done || !stopRequested || service || childRunning) return;
    done = true;
    iomux->ShutdownComplete(this);
}
