// Arbitrary byte streams from the manager: framing, decoding and dispatch.
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "net/socket.h"
#include "runtime/debug.h"
#include "runtime/iomux.h"
#include "service/app_args.h"
#include "service/app_instance.h"
#include "service/app_service.h"

namespace {

// Hands the input to the link in the pieces its receives ask for; the first
// input byte picks how small the pieces are, so split frames get exercised.
class FeedSocket : public ISocket {
public:
    explicit FeedSocket(USocket* user) : user(user) {}
    void Connect(const char*) override {}
    bool Listen(const char*) override { return false; }
    ISocket* Accept(USocket*) override { return nullptr; }
    void Send(const void*, size_t len) override { sent += len; }
    void Recv(void* buf, size_t len, bool) override
    {
        pendingBuf = (char*)buf;
        pendingLen = len;
        pending = true;
    }
    void Shutdown() override {}
    size_t SendQueueSize() const override { return 0; }

    // Feeds until the input is used up or nobody reads any more.
    void Feed(const uint8_t* data, size_t size, size_t piece)
    {
        size_t got = 0;
        while (pending && size > 0) {
            size_t n = std::min({pendingLen - got, size, piece});
            memcpy(pendingBuf + got, data, n);
            data += n;
            size -= n;
            got += n;
            if (got == pendingLen) {
                pending = false;
                got = 0;
                user->SocketRecvResult(this, pendingBuf, pendingLen);
            }
        }
    }

    USocket* user;
    char* pendingBuf = nullptr;
    size_t pendingLen = 0;
    bool pending = false;
    size_t sent = 0;
};

class FeedProvider : public ISocketProvider {
public:
    ISocket* CreateSocket(IIoMux*, USocket* user, IInstanceLog*) override { return last = new FeedSocket(user); }
    FeedSocket* last = nullptr;
};

class QuietInstance : public AppInstance {
public:
    QuietInstance(AppService* service, AppInstanceArgs* args) : AppInstance(service, args) {}
    void Stop() override {}
};

class FuzzService : public AppService {
public:
    FuzzService(IIoMux* iomux, ISocketProvider* local, AppServiceArgs* args) : AppService(iomux, local, args) {}
    void AppServiceApps(istd::list*) override {}
    AppInstance* CreateInstance(AppInstanceArgs* args) override { return new QuietInstance(this, args); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    size_t piece = 1 + data[0] % 64;
    // Log lines would only slow the run down; the input may switch them on again.
    debug->SetLogging(false);
    IIoMux* iomux = IIoMux::Create(true, 0);
    FeedProvider provider;
    AppServiceArgs args;
    args.serviceId = "messages";
    args.manager = "/fuzz/manager";
    AppService* service = new FuzzService(iomux, &provider, &args);
    FeedSocket* socket = provider.last;
    // The link reads its first header once connected.
    socket->user->SocketConnectComplete(socket);
    socket->Feed(data + 1, size - 1, piece);
    delete service;
    delete iomux;
    return 0;
}
