// Arbitrary byte streams from the manager: framing, decoding and dispatch.
#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "fuzz/feed_socket.h"
#include "net/socket.h"
#include "runtime/debug.h"
#include "runtime/iomux.h"
#include "service/app_args.h"
#include "service/app_instance.h"
#include "service/app_service.h"

namespace {

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
