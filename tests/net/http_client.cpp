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

    void Start(const std::string& url, const char* user = nullptr, const char* password = nullptr)
    {
        body.clear();
        blocks = lasts = 0;
        largest = 0;
        ended = false;
        inside = true;
        client->Connect(url.c_str(), user, password, HTTP_AUTH_BASIC | HTTP_AUTH_DIGEST | HTTP_AUTH_NTLM);
        inside = false;
    }
    void HTTPClientConnectComplete(IHTTPClient*) override
    {
        EXPECT_FALSE(inside);
        if (post.empty()) {
            client->SetRequestType(HTTP_GET, 0, nullptr);
            client->Send(nullptr, 0);
        }
        else {
            client->SetRequestType(HTTP_POST, post.size(), "text/plain; charset=utf-8");
            client->Send(post.data(), post.size());
        }
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
    std::string post;
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
    void Fetch(const std::string& url, const char* user = nullptr, const char* password = nullptr)
    {
        fetcher->Start(url, user, password);
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

TEST_F(http_client, failures_end_the_exchange_with_their_reason_and_leave_the_client_usable)
{
    struct Case {
        std::string url;
        httpclient_shutdown_reason_t reason;
        unsigned status;
    };
    const Case cases[] = {
        {"http://127.0.0.1:" + std::to_string(http_test::ClosedPort()) + "/body/10", HTTPCLIENT_SHUTDOWN_CONNECT_FAILED, 0},
        {server->Http("/missing"), HTTPCLIENT_SHUTDOWN_HTTP_STATUS, 404},
        // Nobody vouches for the server's self-signed certificate.
        {server->Https("/body/10"), HTTPCLIENT_SHUTDOWN_TLS_FAILED, 0},
        {server->Http("/redirect/8/body/10"), HTTPCLIENT_SHUTDOWN_TOO_MANY_REDIRECTS, 302},
        {server->Http("/broken/200000"), HTTPCLIENT_SHUTDOWN_IO_ERROR, 200},
        {server->Http("/auth/10"), HTTPCLIENT_SHUTDOWN_HTTP_STATUS, 401},
        {"ftp://127.0.0.1/file", HTTPCLIENT_SHUTDOWN_URL_INVALID, 0},
        {"not a url", HTTPCLIENT_SHUTDOWN_URL_INVALID, 0},
    };
    for (const Case& c : cases) {
        Fetch(c.url);
        EXPECT_EQ(c.reason, fetcher->reason) << c.url << ": " << HTTPClientShutdownReasonName(fetcher->reason);
        EXPECT_EQ(c.status, fetcher->client->GetStatus()) << c.url;
        EXPECT_EQ(0u, fetcher->lasts) << c.url;
    }
    Fetch(server->Http("/redirect/3/body/1000"));
    EXPECT_EQ(HTTPCLIENT_SHUTDOWN_NORMAL, fetcher->reason);
    EXPECT_TRUE(fetcher->body == http_test::Body(1000));
}

TEST_F(http_client, credentials_and_post_bodies_reach_the_server)
{
    Fetch(server->Http("/auth/5000"), "user", "secret");
    EXPECT_EQ(HTTPCLIENT_SHUTDOWN_NORMAL, fetcher->reason);
    EXPECT_TRUE(fetcher->body == http_test::Body(5000));
    Fetch(server->Http("/auth/5000"), "user", "wrong");
    EXPECT_EQ(HTTPCLIENT_SHUTDOWN_HTTP_STATUS, fetcher->reason);
    EXPECT_EQ(401u, fetcher->client->GetStatus());

    fetcher->post = std::string("caf\xc3\xa9 ") + http_test::Body(100000);
    Fetch(server->Http("/echo"));
    EXPECT_EQ(HTTPCLIENT_SHUTDOWN_NORMAL, fetcher->reason);
    EXPECT_TRUE(fetcher->body == "text/plain; charset=utf-8\n" + fetcher->post);
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
