// The HTTP client as the attachment fetch uses it: blocks paced by their
// owner over HTTP and HTTPS, and a fetch broken off by its owner. Failing
// URLs are covered end to end (tests/e2e/attach.cpp).
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "runtime/io_mux.h"
#include "runtime/timer.h"
#include "tests/net/http_test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

// One fetch after another on one client: each GET collects its body and
// ends with the reason the client gave; the owner may hold each block for a
// while before asking for the next, as a slow store would.
class Fetcher : public UHTTPClient, public UTimer {
public:
    explicit Fetcher(IIoMux* iomux) : iomux(iomux), hold(iomux, this)
    {
        client = IHTTPClient::Create(iomux, this, nullptr);
    }
    ~Fetcher() override { delete client; }

    void Start(const std::string& url)
    {
        body.clear();
        blocks = lasts = 0;
        largest = 0;
        ended = false;
        inside = true;
        client->Connect(url.c_str(), nullptr, nullptr, 0);
        inside = false;
    }
    void HTTPClientConnectComplete(IHTTPClient*) override
    {
        EXPECT_FALSE(inside);
        client->SetRequestType(HTTP_GET, 0, nullptr);
        client->Send(nullptr, 0);
        client->Recv();
    }
    void HTTPClientRecvResult(IHTTPClient*, const unsigned char* buffer, size_t length, bool last) override
    {
        body.append((const char*)buffer, length);
        blocks++;
        largest = std::max(largest, length);
        if (last) {
            lasts++;
            return client->Shutdown();
        }
        if (shutdownAfterBlock) return client->Shutdown();
        if (holdMs) return hold.Start(holdMs);
        client->Recv();
    }
    void TimerOnTimeout(ITimer*) override { client->Recv(); }
    void HTTPClientShutdown(IHTTPClient*, httpclient_shutdown_reason_t why) override
    {
        EXPECT_FALSE(inside);
        reason = why;
        ended = true;
        hold.Cancel();
    }

    IIoMux* iomux;
    IHTTPClient* client;
    ITimer hold;
    unsigned holdMs = 0;
    bool shutdownAfterBlock = false;
    std::string body;
    unsigned blocks = 0, lasts = 0;
    size_t largest = 0;
    bool ended = false, inside = false;
    httpclient_shutdown_reason_t reason = HTTPCLIENT_SHUTDOWN_NORMAL;
};

class http_client : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new http_test::Server; }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(server->Ready()) << "the test server did not start (python3 and openssl needed)";
        mux = new IoMux(true, 0);
        baseFds = mux->FdCount();
        fetcher = new Fetcher(mux);
    }
    void TearDown() override
    {
        delete fetcher;
        // Descriptors curl gave up are forgotten on the next pass.
        mux->RunOnce(0);
        EXPECT_EQ(baseFds, mux->FdCount());
        EXPECT_EQ(0u, mux->TimerCount());
        EXPECT_EQ(0u, mux->QueuedExecs());
        delete mux;
    }
    // Runs the loop until the fetch has ended (at most 30 s).
    void Fetch(const std::string& url)
    {
        fetcher->Start(url);
        auto end = Clock::now() + std::chrono::seconds(30);
        while (!fetcher->ended && Clock::now() < end) mux->RunOnce(100);
        ASSERT_TRUE(fetcher->ended) << url;
    }

    static inline http_test::Server* server = nullptr;
    IoMux* mux = nullptr;
    unsigned baseFds = 0;
    Fetcher* fetcher = nullptr;
};

TEST_F(http_client, slow_multi_megabyte_bodies_stream_in_bounded_blocks_over_http_and_https_on_one_client)
{
    const size_t size = 3 * 1024 * 1024 + 17;
    const std::string path = "/body/" + std::to_string(size) + "?chunk=65536&delay=4";
    const std::string expected = http_test::Body(size);
    fetcher->client->SetTrustedCertificates(server->CertFile().c_str());
    // The owner keeps every block a while: curl must wait for it, not buffer ahead.
    fetcher->holdMs = 2;
    for (const std::string& url : {server->Http(path), server->Https(path)}) {
        Fetch(url);
        EXPECT_EQ(HTTPCLIENT_SHUTDOWN_NORMAL, fetcher->reason) << url;
        EXPECT_EQ(200u, fetcher->client->GetStatus());
        EXPECT_EQ(1u, fetcher->lasts);
        EXPECT_LE(fetcher->largest, 64000u);
        EXPECT_GT(fetcher->blocks, size / 64000);
        EXPECT_TRUE(fetcher->body == expected) << url << ": " << fetcher->body.size() << " bytes";
    }
}

TEST_F(http_client, shutdown_in_the_middle_of_a_body_breaks_it_off)
{
    // Ten seconds of body; the owner has enough after the first block.
    fetcher->shutdownAfterBlock = true;
    Fetch(server->Http("/body/10000000?chunk=100000&delay=100"));
    EXPECT_EQ(HTTPCLIENT_SHUTDOWN_NORMAL, fetcher->reason);
    EXPECT_EQ(1u, fetcher->blocks);
    fetcher->shutdownAfterBlock = false;
    Fetch(server->Http("/body/70000"));
    EXPECT_EQ(HTTPCLIENT_SHUTDOWN_NORMAL, fetcher->reason);
    EXPECT_TRUE(fetcher->body == http_test::Body(70000));
}

}  // namespace
