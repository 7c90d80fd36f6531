#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "net/stream_socket.h"
#include "runtime/instance_log.h"

namespace {

// "a.b.c.d:port", "[v6]:port" or "localhost:port"; names are not resolved here.
bool ParseTcpAddress(const char* address, sockaddr_storage& addr, socklen_t& len)
{
    std::string text(address);
    std::string host;
    std::string port;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    }
    else {
        size_t colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    char* end = nullptr;
    unsigned long p = strtoul(port.c_str(), &end, 10);
    if (port.empty() || *end || p > 65535) return false;
    if (host == "localhost") host = "127.0.0.1";
    memset(&addr, 0, sizeof(addr));
    sockaddr_in* v4 = (sockaddr_in*)&addr;
    sockaddr_in6* v6 = (sockaddr_in6*)&addr;
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons((unsigned short)p);
        len = sizeof(*v4);
        return true;
    }
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons((unsigned short)p);
        len = sizeof(*v6);
        return true;
    }
    return false;
}

class TcpSocket : public StreamSocket {
public:
    TcpSocket(IIoMux* iomux, USocket* user, IInstanceLog* log) : StreamSocket(iomux, user, log, LOG_TCP) {}

protected:
    bool ResolveAddress(const char* address, sockaddr_storage& addr, socklen_t& len) override
    {
        return ParseTcpAddress(address, addr, len);
    }
    StreamSocket* CreateAccepted(USocket* newUser) override { return new TcpSocket(iomux, newUser, log); }
};

class TcpSocketProvider : public ISocketProvider {
public:
    ISocket* CreateSocket(IIoMux* iomux, USocket* user, IInstanceLog* log) override
    {
        return new TcpSocket(iomux, user, log);
    }
};

}  // namespace

ISocketProvider* CreateTCPSocketProvider()
{
    return new TcpSocketProvider();
}
