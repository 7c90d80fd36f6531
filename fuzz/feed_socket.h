// A socket that hands fuzz input to a link in the pieces its receives ask
// for, and the provider that makes one; shared by the link fuzz targets.
#pragma once

#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "net/socket.h"

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
    void Shutdown() override { pending = false; }
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
