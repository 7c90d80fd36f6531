#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/socket.h"
#include "runtime/iomux.h"
#include "runtime/timer.h"
#include "tests/net/http_test_server.h"
#include "tests/support/child_process.h"

namespace {

using harness::Pattern;

// A loop with a watchdog: a test that never reaches its end fails instead of hanging.
class stream_socket : public ::testing::Test, public UTimer {
protected:
    void SetUp() override
    {
        iomux = IIoMux::Create(true, 0);
        watchdog = new ITimer(iomux, this);
        watchdog->Start(5000);
    }
    void TearDown() override
    {
        delete watchdog;
        delete iomux;
    }
    void TimerOnTimeout(ITimer*) override
    {
        timedOut = true;
        iomux->Shutdown();
    }
    void Run()
    {
        iomux->Run();
        EXPECT_FALSE(timedOut);
    }

    IIoMux* iomux = nullptr;
    ITimer* watchdog = nullptr;
    bool timedOut = false;
    harness::TempDir tmp;
    const std::string dir = tmp.path;
};

// Collects everything its socket receives and how the socket ended.
class Peer : public USocket {
public:
    Peer(IIoMux* iomux, ISocketProvider* provider) : iomux(iomux) { socket = provider->CreateSocket(iomux, this, nullptr); }
    ~Peer() override { delete socket; }
    void SocketConnectComplete(ISocket*) override
    {
        connected = true;
        if (onConnect) onConnect(this);
    }
    void SocketRecvResult(ISocket*, void* buf, size_t len) override
    {
        received.append((char*)buf, len);
        if (onRecv) onRecv(this);
        else socket->Recv(chunk, sizeof(chunk), true);
    }
    void SocketShutdown(ISocket* s, shutdownreason_t r) override
    {
        EXPECT_EQ(s, socket);
        ended = true;
        reason = r;
        if (onEnd) onEnd(this);
    }
    void Read() { socket->Recv(chunk, sizeof(chunk), true); }

    IIoMux* iomux;
    ISocket* socket;
    bool connected = false;
    bool ended = false;
    shutdownreason_t reason = SOCKET_SHUTDOWN_NORMAL;
    std::string received;
    size_t consumed = 0;
    char chunk[7000];
    std::function<void(Peer*)> onConnect, onRecv, onEnd;
};

class Listener : public USocket {
public:
    Listener(IIoMux* iomux, ISocketProvider* provider) : iomux(iomux), provider(provider)
    {
        socket = provider->CreateSocket(iomux, this, nullptr);
    }
    ~Listener() override
    {
        for (Peer* p : accepted) delete p;
        delete socket;
    }
    void SocketAcceptComplete(ISocket*) override
    {
        for (;;) {
            Peer* p = new Peer(iomux, provider);
            delete p->socket;
            p->socket = socket->Accept(p);
            if (!p->socket) {
                delete p;
                break;
            }
            accepted.push_back(p);
            if (onAccept) onAccept(p);
        }
    }
    void SocketRecvResult(ISocket*, void*, size_t) override {}
    void SocketShutdown(ISocket*, shutdownreason_t) override {}

    IIoMux* iomux;
    ISocketProvider* provider;
    ISocket* socket;
    std::vector<Peer*> accepted;
    std::function<void(Peer*)> onAccept;
};

}  // namespace

// The same stream over a Unix socket and over TCP on loopback.
class stream_transport : public stream_socket, public ::testing::WithParamInterface<bool> {
protected:
    bool Tcp() const { return GetParam(); }
    ISocketProvider* Provider() { return Tcp() ? CreateTCPSocketProvider() : CreateLocalSocketProvider(); }
    std::string Address() const
    {
        return Tcp() ? "127.0.0.1:" + std::to_string(http_test::ClosedPort()) : dir + "/s";
    }
};

TEST_P(stream_transport, large_sends_arrive_whole_and_in_order_before_an_orderly_close)
{
    std::unique_ptr<ISocketProvider> local(Provider());
    std::string path = Address();
    Listener listener(iomux, local.get());
    ASSERT_TRUE(listener.socket->Listen(path.c_str()));
    const std::string payload = Pattern(4 * 1024 * 1024 + 17);

    Peer client(iomux, local.get());
    bool connectReturned = false;
    client.onConnect = [&](Peer* p) {
        EXPECT_TRUE(connectReturned);  // never from inside Connect
        // Far more than the kernel buffers: most of it goes through the send queue.
        p->socket->Send(payload.data(), payload.size() / 2);
        p->socket->Send(payload.data() + payload.size() / 2, payload.size() - payload.size() / 2);
        EXPECT_GT(p->socket->SendQueueSize(), 0u);
        p->socket->Shutdown();
    };
    listener.onAccept = [&](Peer* p) {
        p->Read();
        p->onEnd = [&](Peer*) { iomux->Shutdown(); };
    };
    client.socket->Connect(path.c_str());
    connectReturned = true;
    Run();

    ASSERT_EQ(listener.accepted.size(), 1u);
    Peer* server = listener.accepted[0];
    EXPECT_EQ(server->received.size(), payload.size());
    EXPECT_TRUE(server->received == payload);
    EXPECT_EQ(server->reason, SOCKET_SHUTDOWN_PEER_CLOSED);
    EXPECT_TRUE(client.ended);
    EXPECT_EQ(client.reason, SOCKET_SHUTDOWN_NORMAL);
    if (!Tcp()) unlink(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Transports, stream_transport, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "tcp" : "unix"; });

TEST_F(stream_socket, a_burst_of_records_is_served_in_order_to_small_and_large_exact_receives)
{
    std::unique_ptr<ISocketProvider> local(CreateLocalSocketProvider());
    std::string path = dir + "/s";
    Listener listener(iomux, local.get());
    ASSERT_TRUE(listener.socket->Listen(path.c_str()));
    // Length-prefixed records as a link frames them: empty, tiny, around the
    // read-ahead size and beyond it, all written at once.
    std::vector<size_t> sizes = {0, 5, 12, 16383, 16384, 16385, 40000, 3, 0, 65535, 1};
    std::string wire;
    for (size_t i = 0; i < sizes.size(); i++) {
        uint32_t n = htonl((uint32_t)sizes[i]);
        wire.append((char*)&n, 4);
        wire += Pattern(sizes[i] + i).substr(i);
    }
    Peer client(iomux, local.get());
    client.onConnect = [&](Peer* p) {
        p->socket->Send(wire.data(), wire.size());
        p->socket->Shutdown();
    };
    std::vector<std::string> records;
    std::vector<char> buf(70000);
    bool header = true;
    listener.onAccept = [&](Peer* p) {
        p->onRecv = [&](Peer* s) {
            size_t len = 0;
            if (header) {
                uint32_t n;
                memcpy(&n, buf.data(), 4);
                len = ntohl(n);
            }
            else records.push_back(std::string(buf.data(), s->received.size() - s->consumed));
            s->consumed = s->received.size();
            if (header && len == 0) records.push_back("");
            header = !header || len == 0;
            if (header) s->socket->Recv(buf.data(), 4);
            else s->socket->Recv(buf.data(), len);
        };
        p->onEnd = [&](Peer*) { iomux->Shutdown(); };
        p->socket->Recv(buf.data(), 4);
    };
    client.socket->Connect(path.c_str());
    Run();
    ASSERT_EQ(records.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); i++) EXPECT_TRUE(records[i] == Pattern(sizes[i] + i).substr(i)) << "record " << i;
    ASSERT_EQ(listener.accepted.size(), 1u);
    EXPECT_EQ(listener.accepted[0]->reason, SOCKET_SHUTDOWN_PEER_CLOSED);
}

TEST_F(stream_socket, unusable_addresses_end_the_socket_with_a_reason)
{
    std::unique_ptr<ISocketProvider> local(CreateLocalSocketProvider());
    std::unique_ptr<ISocketProvider> tcp(CreateTCPSocketProvider());

    // A socket file nobody listens on refuses; a missing path or one too long is unusable.
    std::string stale = dir + "/stale";
    {
        Listener gone(iomux, local.get());
        ASSERT_TRUE(gone.socket->Listen(stale.c_str()));
    }
    struct Case {
        ISocketProvider* provider;
        std::string address;
        shutdownreason_t expected;
    } cases[] = {
        {local.get(), dir + "/missing", SOCKET_SHUTDOWN_ADDRESS_INVALID},
        {local.get(), "/tmp/" + std::string(110, 'x'), SOCKET_SHUTDOWN_ADDRESS_INVALID},
        {local.get(), stale, SOCKET_SHUTDOWN_CONNECT_FAILED},
        {tcp.get(), "not-an-address", SOCKET_SHUTDOWN_ADDRESS_INVALID},
        {tcp.get(), "127.0.0.1:99999", SOCKET_SHUTDOWN_ADDRESS_INVALID},
    };
    std::vector<std::unique_ptr<Peer>> peers;
    int ended = 0;
    for (auto& c : cases) {
        peers.emplace_back(new Peer(iomux, c.provider));
        peers.back()->onEnd = [&](Peer*) {
            if (++ended == (int)peers.size()) iomux->Shutdown();
        };
        peers.back()->socket->Connect(c.address.c_str());
        EXPECT_FALSE(peers.back()->ended);  // reported later, not from inside Connect
    }
    Run();
    for (size_t i = 0; i < peers.size(); i++) EXPECT_EQ(peers[i]->reason, cases[i].expected) << cases[i].address;
    unlink(stale.c_str());
}
