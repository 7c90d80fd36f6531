// Files named in a post's "attach" are fetched over HTTP and HTTPS into the
// message's folder of the file store, while the service goes on serving its
// sessions; the poster's own upload buffers are read from the database
// instead; URLs that fail are skipped and the message stays posted.
#include <algorithm>
#include <chrono>
#include <functional>

#include "tests/e2e/messaging_site.h"
#include "tests/net/http_test_server.h"

using namespace e2e;

namespace {

using Clock = std::chrono::steady_clock;

class e2e_attach : public MessagingTest {
protected:
    static void SetUpTestSuite()
    {
        MessagingTest::SetUpTestSuite();
        server = new http_test::Server;
    }
    static void TearDownTestSuite()
    {
        // The service stops first, with the last test's fetch still under way.
        MessagingTest::TearDownTestSuite();
        delete server;
    }
    void SetUp() override
    {
        MessagingTest::SetUp();
        ASSERT_TRUE(server->Ready()) << "the test server did not start (python3 and openssl needed)";
    }

    // A chat message from p to `to` in p's own topic, with `attach`; its id.
    // deliver: the service writes the copy in the other side's topic.
    std::string Post(Person& p, const std::string& to, const std::string& attach, bool deliver = false)
    {
        Json post = Json().Str("topic", p.sip).Num("type", 1).Str("text", "see attached").Strs("notify", {to});
        if (deliver) post.Bool("deliver", true);
        JsonMessage r = p.Reply(Request("Post", post.Str("attach", attach)), "PostResult");
        EXPECT_FALSE(r.Has("error")) << r.text;
        return std::to_string(r.Number("id"));
    }
    JsonMessage ChatRow(Person& p, const std::string& to)
    {
        std::vector<JsonMessage> rows = Rows(p, "ReadChat", Json().Str("sip", to), "ReadChatInd");
        if (rows.empty()) return JsonMessage();
        return std::move(rows.front());
    }
    std::string Attached(const std::string& id) { return Value("SELECT attached FROM messages WHERE id=" + id); }
    // Until the message's "attached" is written; meanwhile `meanwhile` runs again and again.
    std::string AwaitAttached(const std::string& id, const std::function<void()>& meanwhile = nullptr)
    {
        auto end = Clock::now() + std::chrono::seconds(60);
        std::string attached;
        while ((attached = Attached(id)).empty() && Clock::now() < end) {
            if (meanwhile) meanwhile();
            else usleep(20000);
        }
        return attached;
    }
    // "name size md5" of each file in the message's folder, in id order.
    std::vector<std::string> Files(const std::string& id)
    {
        std::vector<std::string> files;
        std::string ids = Value("SELECT string_agg(id::text, ' ' ORDER BY id) FROM files WHERE folder=" + id);
        for (size_t at = 0; at < ids.size();) {
            size_t end = std::min(ids.find(' ', at), ids.size());
            std::string file = ids.substr(at, end - at);
            files.push_back(Value("SELECT name || ' ' || size FROM files WHERE id=" + file) + " " +
                            Value("SELECT md5(string_agg(data, ''::bytea ORDER BY id)) FROM files_data WHERE file=" + file));
            at = end + 1;
        }
        return files;
    }
    std::string FileId(const std::string& id, const std::string& name)
    {
        return Value("SELECT id FROM files WHERE folder=" + id + " AND name=" + SqlText(name));
    }
    // A buffer made by p and filled with Body(size) as a client fills it; its "CreateFileBufferResult".
    JsonMessage Buffer(Person& p, const std::string& name, size_t size)
    {
        JsonMessage r = p.Reply(Request("CreateFileBuffer", Json().Str("name", name)), "CreateFileBufferResult");
        std::string file = site->site.dir / ("buffer-" + std::to_string(r.Number("id")));
        WriteFile(file, http_test::Body(size));
        // "url" names the host the session's client gave; the stand-in is reached at its own port.
        std::string path = r.String("url").substr(("http://" + r.String("host")).size());
        EXPECT_EQ(Http(site->site.dir, {"--data-binary", "@" + file, site->web.Url(path)}).status, 200) << r.text;
        return r;
    }
    static std::string Expected(const std::string& name, size_t size)
    {
        return name + " " + std::to_string(size) + " " + Md5Hex(http_test::Body(size));
    }

    static inline http_test::Server* server = nullptr;
};

TEST_F(e2e_attach, a_slow_multi_megabyte_file_arrives_byte_identical_while_other_sessions_are_served)
{
    auto ann = Login("ann"), bob = Login("bob");
    const size_t size = 4 * 1024 * 1024 + 3;
    // About 1.6 s of body, 64 KB every 25 ms.
    std::string url = server->Http("/body/" + std::to_string(size) + "/report%20%C3%A4.bin?chunk=65536&delay=25");
    auto trip = [&] {
        auto start = Clock::now();
        bob->Ask(Request("Test", Json().Str("src", "probe")), "TestResult");
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::vector<double> idle;
    for (int i = 0; i < 20; i++) idle.push_back(trip());
    std::sort(idle.begin(), idle.end());
    std::string id = Post(*ann, bob->sip, url);

    // Until the files are stored, readers get the list as it was posted.
    JsonMessage row = ChatRow(*ann, bob->sip);
    EXPECT_EQ(row.String("attach"), url) << row.text;

    std::vector<double> trips;
    std::string attached = AwaitAttached(id, [&] { trips.push_back(trip()); });
    std::sort(trips.begin(), trips.end());
    ASSERT_FALSE(trips.empty());
    printf("  websocket round trips: before the fetch %zu, median %.1f ms, max %.1f ms; during it %zu, median %.1f ms, "
           "max %.1f ms\n",
           idle.size(), idle[idle.size() / 2], idle.back(), trips.size(), trips[trips.size() / 2], trips.back());

    std::string file = FileId(id, "report \xc3\xa4.bin");
    EXPECT_EQ(attached, file + "/report%20%C3%A4.bin");
    EXPECT_EQ(Files(id), std::vector<std::string>{Expected("report \xc3\xa4.bin", size)});
    row = ChatRow(*ann, bob->sip);
    EXPECT_FALSE(row.Has("attach")) << row.text.substr(0, 300);
    EXPECT_EQ(row.String("name", row.doc->get_array(0, "attached") + 1), "report \xc3\xa4.bin") << row.text;
}

TEST_F(e2e_attach, urls_that_fail_are_skipped_and_the_others_are_attached)
{
    auto ann = Login("ann"), bob = Login("bob");
    std::vector<std::string> urls = {
        "http://127.0.0.1:" + std::to_string(http_test::ClosedPort()) + "/refused.txt",
        server->Http("/missing/absent.txt"),
        // Nobody vouches for the test server's self-signed certificate.
        server->Https("/body/1000/untrusted.txt"),
        // Half of it comes, then the connection closes: what was stored goes.
        server->Http("/broken/300000/cut.bin"),
        "ftp://127.0.0.1/other-protocol.txt",
        server->Http("/body/70000/first.bin"),
        server->Http("/redirect/2/body/5/second.txt"),
        // A name that does not decode to UTF-8 is kept as it was written; no name at all makes one.
        server->Http("/body/3/bad%FF.txt?x=1"),
        server->Http("/body/4/"),
    };
    std::string attach;
    for (auto& u : urls) attach += u + "  ";
    std::string id = Post(*ann, bob->sip, attach);
    EXPECT_NE(id, "0");

    std::string attached = AwaitAttached(id);
    EXPECT_EQ(attached, FileId(id, "first.bin") + "/first.bin " + FileId(id, "second.txt") + "/second.txt " +
                            FileId(id, "bad%FF.txt") + "/bad%25FF.txt " + FileId(id, "file") + "/file");
    EXPECT_EQ(Files(id), (std::vector<std::string>{Expected("first.bin", 70000), Expected("second.txt", 5),
                                                   Expected("bad%FF.txt", 3), Expected("file", 4)}));
    EXPECT_EQ(Value("SELECT text FROM messages WHERE id=" + id), "see attached");
}

TEST_F(e2e_attach, the_posters_own_buffers_are_read_from_the_database_instead_of_fetched)
{
    auto ann = Login("ann"), bob = Login("bob");
    JsonMessage plan = Buffer(*ann, "plan \xc3\xa4.pdf", 150000), notes = Buffer(*ann, "notes.txt", 1000);
    std::string url = plan.String("url"), req = notes.String("req");
    // Over the network the "url" does not reach the stand-in (it lacks its
    // port), and the "req" has no host at all: only a read of the buffer
    // tables can bring their bytes.
    EXPECT_NE(Http(site->site.dir, {"--max-time", "10", url}).body, http_test::Body(150000));
    std::string key = "/buffer/" + std::to_string(plan.Number("id")) + "/";
    ASSERT_NE(url.find(key), std::string::npos) << plan.text;
    std::string wrongKey = url;
    wrongKey.replace(url.find(key) + key.size(), 16, std::string(16, 'x'));

    std::string id = Post(*ann, bob->sip, url + " " + wrongKey + " " + req + " " + server->Http("/body/10/net.bin"));
    std::string attached = AwaitAttached(id);
    EXPECT_EQ(attached, FileId(id, "plan \xc3\xa4.pdf") + "/plan%20%C3%A4.pdf " + FileId(id, "notes.txt") +
                            "/notes.txt " + FileId(id, "net.bin") + "/net.bin");
    EXPECT_EQ(Files(id), (std::vector<std::string>{Expected("plan \xc3\xa4.pdf", 150000), Expected("notes.txt", 1000),
                                                   Expected("net.bin", 10)}));
    // Read rows say how many files a message has.
    std::vector<JsonMessage> rows =
        Rows(*ann, "SetFilter",
             Json().Str("src", "f").Bool("discussion", true).Num("count", 10).Raw("filter", Json().Strs("topics", {ann->sip})),
             "Add");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Number("attached", rows[0].Object("msg")), 3u) << rows[0].text;
}

// A web client sends a chat message once and the service writes the other
// side's copy: the files come with it, each copy with its own.
TEST_F(e2e_attach, the_copy_of_a_delivered_chat_message_gets_the_files_too)
{
    auto ann = Login("ann"), bob = Login("bob");
    JsonMessage photo = Buffer(*ann, "photo.png", 90000);
    std::string id = Post(*ann, bob->sip, photo.String("url"), true);
    std::string copy = Value("SELECT id FROM messages WHERE text='see attached' AND author=(SELECT id FROM objects "
                             "WHERE sip=" + SqlText(ann->sip) + ") AND id>" + id);
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(AwaitAttached(copy), FileId(copy, "photo.png") + "/photo.png");
    EXPECT_EQ(AwaitAttached(id), FileId(id, "photo.png") + "/photo.png");
    EXPECT_EQ(Files(copy), std::vector<std::string>{Expected("photo.png", 90000)});
    // Bob's chat with ann links the file, and it downloads whole.
    JsonMessage row = ChatRow(*bob, ann->sip);
    std::string link = row.String("url", row.doc->get_array(0, "attached") + 1);
    ASSERT_FALSE(link.empty()) << row.text;
    EXPECT_EQ(Http(site->site.dir, {site->web.Url(link.substr(link.find('/', link.find("//") + 2)))}).body,
              http_test::Body(90000));
}

// Runs last: the service is stopped at the end of this file while the fetch
// goes on, and must end cleanly (exit code 0, nothing leaked).
TEST_F(e2e_attach, zz_a_fetch_under_way_does_not_keep_the_service_from_stopping)
{
    auto ann = Login("ann"), bob = Login("bob");
    std::string url = server->Http("/body/20000000/long.bin?chunk=65536&delay=100");
    std::string id = Post(*ann, bob->sip, url);
    JsonMessage row = ChatRow(*ann, bob->sip);
    EXPECT_EQ(row.String("attach"), url) << row.text;
}

}  // namespace
