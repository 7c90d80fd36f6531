#pragma once

#include <string>
#include <vector>

#include "net/socket.h"
#include "runtime/iomux.h"

// The stand-in for the platform manager: it accepts one service connection
// on a Unix socket, starts the configured instances, prints every message it
// receives as one line, and stops the service on its own SIGTERM/SIGINT.
class PlatformManager : public USocket, public IShutdownHandler, public IChildExitedHandler {
public:
    struct Instance {
        std::string name = "messages", domain = "example.local", password = "kfo", path = "/messages";
        std::string webserver = "/var/run/webserver/webserver", dbHost, dbName = "messages", dbUser = "messages",
                    dbPassword = "kfo";
        unsigned long long logFlags = 0;
    };

    PlatformManager(IIoMux* iomux, ISocketProvider* local, const std::string& socketPath,
                    const std::vector<Instance>& instances);
    ~PlatformManager() override;
    bool Listen();
    // Starts the service as our child, pointed at our socket.
    bool StartChild(const std::string& executable, const std::vector<std::string>& extraArgs);

    void SocketAcceptComplete(ISocket* listener) override;
    void SocketRecvResult(ISocket* s, void* buf, size_t len) override;
    void SocketShutdown(ISocket* s, shutdownreason_t reason) override;
    void Shutdown() override;
    void ShutdownTimeout() override {}
    void ChildExited(int pid, int signal, int exitCode, bool crashed) override;

    int ExitCode() const { return exitCode; }

private:
    void Send(const char* json, unsigned short len);
    void SendAppStart(const Instance& i);
    void SendStop();
    void Handle(char* text);
    void CheckDone();

    IIoMux* iomux;
    ISocketProvider* local;
    std::string socketPath;
    std::vector<Instance> instances;
    ISocket* listener = nullptr;
    ISocket* service = nullptr;
    int childPid = -1;
    bool childRunning = false;
    bool closeComplete = false;
    bool stopRequested = false;
    bool stopSent = false;
    bool done = false;
    int exitCode = 0;
    bool readingHeader = true;
    unsigned char header[4];
    std::vector<char> body;
};
