#include <string.h>
#include <sys/un.h>
#include <unistd.h>

#include "net/stream_socket.h"
#include "runtime/instance_log.h"

namespace {

class LocalSocket : public StreamSocket {
public:
    LocalSocket(IIoMux* iomux, USocket* user, IInstanceLog* log) : StreamSocket(iomux, user, log, LOG_LOCAL_SOCKETS) {}

protected:
    bool ResolveAddress(const char* address, sockaddr_storage& addr, socklen_t& len) override
    {
        sockaddr_un* un = (sockaddr_un*)&addr;
        size_t n = strlen(address);
        // sun_path holds 107 bytes and the terminator.
        if (n == 0 || n >= sizeof(un->sun_path)) return false;
        memset(un, 0, sizeof(*un));
        un->sun_family = AF_UNIX;
        memcpy(un->sun_path, address, n);
        len = sizeof(*un);
        return true;
    }
    void PrepareListen(const sockaddr_storage& addr) override { unlink(((const sockaddr_un*)&addr)->sun_path); }
    StreamSocket* CreateAccepted(USocket* newUser) override { return new LocalSocket(iomux, newUser, log); }
};

class LocalSocketProvider : public ISocketProvider {
public:
    ISocket* CreateSocket(IIoMux* iomux, USocket* user, IInstanceLog* log) override
    {
        return new LocalSocket(iomux, user, log);
    }
};

}  // namespace

ISocketProvider* CreateLocalSocketProvider()
{
    return new LocalSocketProvider();
}
