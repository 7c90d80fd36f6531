// Files over HTTP as clients use them: upload buffers filled and read back,
// files of messages uploaded, listed with "Attachments", downloaded and
// deleted, clients that leave halfway, and malformed requests; through
// platform-webserver with curl, raw sockets and app clients, against the
// real messages and PostgreSQL. The static web client is static_files.cpp's.
#include "tests/e2e/messaging_site.h"

using namespace e2e;

namespace {

// The status of a raw answer, 0 when there is none.
int Status(const std::string& answer)
{
    return answer.compare(0, 9, "HTTP/1.1 ") ? 0 : atoi(answer.c_str() + 9);
}

class e2e_files : public MessagingTest {
protected:
    std::string Url(const std::string& path) { return site->web.Url("/messages" + path); }
    const TempDir& Dir() { return site->site.dir; }
    HttpResponse Get(const std::string& path, std::vector<std::string> args = {})
    {
        args.push_back(Url(path));
        return Http(Dir(), args);
    }
    // POSTs `body`; chunked without a length when asked.
    HttpResponse Post(const std::string& path, const std::string& body, bool chunked = false)
    {
        static int n;
        std::string file = Dir() / ("upload-" + std::to_string(n++));
        WriteFile(file, body);
        std::vector<std::string> args = {"--data-binary", "@" + file, "-H", "Content-Type: application/octet-stream"};
        if (chunked) args.insert(args.end(), {"-H", "Transfer-Encoding: chunked"});
        args.push_back(Url(path));
        return Http(Dir(), args);
    }
    // A new buffer's path below the web path ("/buffer/ID/KEY/NAME"), and its parts.
    struct Buffer {
        std::string path, id, key;
        JsonMessage reply;
    };
    Buffer CreateBuffer(Person& p, const std::string& name)
    {
        Buffer b;
        b.reply =
            p.Reply(Request("CreateFileBuffer", Json().Str("src", "fb").Str("name", name)), "CreateFileBufferResult");
        b.id = std::to_string(b.reply.Number("id"));
        std::string url = b.reply.String("url"), prefix = "http://" + b.reply.String("host") + "/messages";
        if (url.compare(0, prefix.size(), prefix))
            ADD_FAILURE() << url;
        else
            b.path = url.substr(prefix.size());
        size_t keyAt = ("/buffer/" + b.id + "/").size();
        if (b.path.size() > keyAt) b.key = b.path.substr(keyAt, b.path.find('/', keyAt) - keyAt);
        return b;
    }
    // A message of `p` in `topic`, and the URL arguments of `p`'s session.
    struct Message {
        std::string id, session;
    };
    Message PostMessage(Person& p, const std::string& topic)
    {
        JsonMessage r = p.Reply(Request("Post", Json().Str("topic", N(topic)).Str("text", "with files")), "PostResult");
        return {std::to_string(r.Number("id")),
                "session=" + std::to_string(r.Number("session")) + "&key=" + std::to_string(r.Number("key"))};
    }
    std::vector<JsonMessage> Files(Person& p, const std::string& message)
    {
        std::vector<JsonMessage> out;
        JsonMessage r = p.Reply(Request("Attachments", Json().Raw("id", message)), "AttachmentsResult");
        unsigned short list = r.doc ? r.doc->get_array(0, "files") : json_io::NONE;
        if (list == json_io::NONE) ADD_FAILURE() << "no files in " << r.text;
        unsigned short last = 0;
        unsigned char type, flags;
        const char *name, *value;
        for (unsigned short e;
             list != json_io::NONE && (e = r.doc->get_next(list, last, type, flags, name, value)) != json_io::NONE;) {
            JsonMessage f;
            f.Parse("{\"id\":" + std::to_string(r.Number("id", e)) + ",\"url\":" + Quote(r.String("url", e)) +
                    ",\"name\":" + Quote(r.String("name", e)) + "}");
            out.push_back(std::move(f));
        }
        return out;
    }
    // Waits until the SQL value is `want`.
    bool Becomes(const std::string& sql, const std::string& want)
    {
        for (int i = 0; i < 500; i++) {
            if (Value(sql) == want) return true;
            usleep(20000);
        }
        return false;
    }
};

}  // namespace

TEST_F(e2e_files, buffers_take_uploads_of_any_length_and_give_them_back_byte_identical)
{
    auto ann = Login("ann");
    Buffer big = CreateBuffer(*ann, "big file.bin");
    EXPECT_EQ(big.key.size(), 16u) << big.reply.text;
    EXPECT_EQ(big.key.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              std::string::npos);
    EXPECT_EQ(big.path, "/buffer/" + big.id + "/" + big.key + "/big%20file.bin");
    EXPECT_EQ(big.reply.String("req"), "/messages/buffer/" + big.id + "/" + big.key + "/big file.bin");

    // Ten megabytes in one POST go in as many blocks and come back whole.
    std::string data = Pattern(10 << 20, 3);
    HttpResponse up = Post(big.path, data);
    EXPECT_EQ(up.status, 200);
    EXPECT_EQ(up.Field("access-control-allow-origin"), "*");
    EXPECT_EQ(Value("SELECT count(*) FROM files_buffer_data WHERE file=" + big.id), "164");
    HttpResponse down = Get(big.path);
    EXPECT_EQ(down.status, 200);
    EXPECT_TRUE(down.body == data) << down.body.size() << " bytes back";

    // Without a length the body ends where the client ends it; an empty one is an empty buffer.
    Buffer chunked = CreateBuffer(*ann, "c"), empty = CreateBuffer(*ann, "e");
    std::string some = Pattern(200000, 5);
    EXPECT_EQ(Post(chunked.path, some, true).status, 200);
    EXPECT_TRUE(Get(chunked.path).body == some);
    EXPECT_EQ(Post(empty.path, "").status, 200);
    HttpResponse nothing = Get(empty.path);
    EXPECT_EQ(nothing.status, 200);
    EXPECT_EQ(nothing.body, "");

    // A wrong key finds nothing and writes nothing; so do keys the path cannot hold.
    std::string wrong = "/buffer/" + chunked.id + "/" + std::string(16, 'x') + "/c";
    EXPECT_EQ(Get(wrong).status, 404);
    EXPECT_EQ(Post(wrong, "more").status, 404);
    EXPECT_EQ(Post("/buffer/" + chunked.id + "//c", "more").status, 404);
    EXPECT_TRUE(Get(chunked.path).body == some);
    for (const std::string& path : std::vector<std::string>{
             "/buffer/" + chunked.id + "/" + std::string(64, 'k') + "/c", "/buffer/0/" + chunked.key + "/c",
             "/buffer/" + chunked.id + "/" + chunked.key, "/buffer/0x1/" + chunked.key + "/c",
             "/buffer/99999999999999999999999/" + chunked.key + "/c", "/buffer/"}) {
        EXPECT_EQ(Get(path).status, 404) << path;
        EXPECT_EQ(Post(path, "x").status, 404) << path;
    }
}

TEST_F(e2e_files, message_files_are_uploaded_listed_downloaded_and_deleted_by_a_session_of_their_reader)
{
    auto ann = Login("ann", {"team"});
    auto bob = Login("bob", {"other"});
    Message m = PostMessage(*ann, "team"), theirs = PostMessage(*bob, "other");
    std::string upload = "/?msg-id=" + m.id + "&" + m.session + "&file-name=";

    // A known length, a chunked body and an empty one.
    std::string pdf = Pattern(150000, 7), notes = Pattern(100000, 9);
    EXPECT_EQ(Post(upload + "r%C3%A9sum%C3%A9%201.pdf", pdf).status, 200);
    EXPECT_EQ(Post(upload + "notes.txt", notes, true).status, 200);
    EXPECT_EQ(Post(upload + "empty.txt", "").status, 200);

    std::vector<JsonMessage> files = Files(*ann, m.id);
    ASSERT_EQ(files.size(), 3u);
    std::string pdfId = std::to_string(files[0].Number("id"));
    EXPECT_EQ(files[0].String("name"), "résumé 1.pdf");
    EXPECT_EQ(files[0].String("url"), "files/" + pdfId + "/r%C3%A9sum%C3%A9%201.pdf?" + m.session);
    // Stored in the blocks it came in, the last one shorter.
    EXPECT_EQ(Value("SELECT string_agg(length(data)::text, ',' ORDER BY id) FROM files_data WHERE file=" + pdfId),
              "64000,64000,22000");
    std::string contents[] = {pdf, notes, ""};
    for (size_t i = 0; i < files.size(); i++) {
        HttpResponse r = Get("/" + files[i].String("url"));
        EXPECT_EQ(r.status, 200) << files[i].text;
        EXPECT_TRUE(r.body == contents[i]) << files[i].text << ": " << r.body.size() << " bytes";
    }
    EXPECT_EQ(Get("/" + files[0].String("url")).Field("content-disposition"), "attachment; filename=\"résumé 1.pdf\"");

    // A reader of other topics sees none of them.
    EXPECT_TRUE(Files(*bob, m.id).empty());
    // A link works only with a session and its own key.
    std::string file = "/files/" + pdfId + "/x?";
    std::string bobKey = theirs.session.substr(theirs.session.find("&key="));
    std::string annSession = m.session.substr(0, m.session.find("&key="));
    for (const std::string& path : std::vector<std::string>{
             file + annSession + bobKey,
             file + theirs.session.substr(0, theirs.session.find("&")) + m.session.substr(m.session.find("&key=")),
             file + m.session.substr(m.session.find("key=")), file + annSession + "&key=1", "/files/0/x?" + m.session,
             file + m.session + "&usersession=5"}) {
        EXPECT_EQ(Get(path).status, 404) << path;
    }
    // Uploads need a message, a session and a name or a file to delete.
    for (const std::string& path : std::vector<std::string>{
             "/", "/?msg-id=" + m.id + "&" + m.session, "/?msg-id=0&" + m.session + "&file-name=a",
             "/?msg-id=" + m.id + "&file-name=a", "/?msg-id=" + m.id + "&" + annSession + bobKey + "&file-name=a",
             "/?msg-id=999999999&" + m.session + "&file-name=a",
             "/?msg-id=" + m.id + "&" + m.session + "&file-name=a%0d%0ab"}) {
        EXPECT_EQ(Post(path, "x").status, 404) << path;
    }
    EXPECT_EQ(Files(*ann, m.id).size(), 3u);

    // Deleted: no longer listed, and its content is gone.
    EXPECT_EQ(Post("/?msg-id=" + m.id + "&" + m.session + "&del=" + pdfId, "").status, 200);
    EXPECT_EQ(Files(*ann, m.id).size(), 2u);
    EXPECT_EQ(Value("SELECT count(*) FROM files_data WHERE file=" + pdfId), "0");
    EXPECT_EQ(Get("/files/" + pdfId + "/x?" + m.session).body, "");
}

TEST_F(e2e_files, clients_that_leave_halfway_leave_no_part_behind_and_others_are_served)
{
    auto ann = Login("ann", {"team"});
    Message m = PostMessage(*ann, "team");
    int port = site->web.port;
    std::string head =
        " HTTP/1.1\r\nHost: e2e\r\nContent-Type: application/octet-stream\r\nContent-Length: 1000000\r\n\r\n";
    // A message file cut off halfway goes with its client under load (faults_under_load.cpp); so does a buffer.
    Buffer buffer = CreateBuffer(*ann, "b");
    {
        RawClient cut(port);
        ASSERT_TRUE(cut.Write("POST /messages" + buffer.path + head + Pattern(200000)));
        EXPECT_TRUE(Becomes("SELECT count(*) > 0 FROM files_buffer_data WHERE file=" + buffer.id, "t"));
    }
    EXPECT_TRUE(Becomes("SELECT count(*) FROM files_buffer WHERE id=" + buffer.id, "0"));
    EXPECT_EQ(Get(buffer.path).status, 404);

    // A download left after its first blocks; the next one gets everything.
    std::string data = Pattern(3 << 20, 11);
    std::string upload = "/?msg-id=" + m.id + "&" + m.session + "&file-name=whole.bin";
    ASSERT_EQ(Post(upload, data).status, 200);
    std::vector<JsonMessage> files = Files(*ann, m.id);
    ASSERT_EQ(files.size(), 1u);
    {
        RawClient left(port);
        ASSERT_TRUE(left.Write("GET /messages/" + files[0].String("url") + " HTTP/1.1\r\nHost: e2e\r\n\r\n"));
        EXPECT_GE(left.Read(100000).size(), 100000u);
    }
    HttpResponse whole = Get("/" + files[0].String("url"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_TRUE(whole.body == data) << whole.body.size() << " bytes";
}

TEST_F(e2e_files, malformed_paths_and_queries_are_refused_and_the_service_goes_on)
{
    std::string args = "?session=1&key=1";
    for (const std::string& target : std::vector<std::string>{
             "/messages/files/%zz/x" + args, "/messages/files/1/%" + args, "/messages/files/1/%4" + args,
             "/messages/files/1/a%00b" + args, "/messages/files/1/%ff" + args,
             "/messages/files/18446744073709551616/x" + args, "/messages/files/1/x?session&key",
             "/messages/files/1/x?session=0x&key=1", "/messages/files/1/x?session=-1&key=1",
             "/messages/files/1/x?==&&=" + args, "/messages/files/1" + args, "/messages/files/",
             "/messages/buffer/1/" + std::string(1000, 'k') + "/x", "/messages/buffer//k/x",
             "/messages/files/1/x?" + std::string(6000, '&') + "session=1&key=1"}) {
        for (std::string method : {"GET ", "POST "}) {
            std::string answer = RawExchange(site->web.port, method + target +
                                                                 " HTTP/1.1\r\nHost: e2e\r\n"
                                                                 "Content-Length: 1\r\nConnection: close\r\n\r\nx");
            EXPECT_EQ(Status(answer), 404) << method << target.substr(0, 80) << ": " << answer.substr(0, 80);
        }
    }
    HttpResponse options = Http(Dir(), {"-X", "OPTIONS", Url("/files/1/x")});
    EXPECT_EQ(options.status, 200);
    EXPECT_EQ(options.Field("access-control-allow-origin"), "*");
    EXPECT_EQ(options.Field("access-control-allow-headers"), "content-type");

    auto ann = Login("ann");
    Buffer b = CreateBuffer(*ann, "after");
    EXPECT_EQ(Post(b.path, "still here").status, 200);
    EXPECT_EQ(Get(b.path).body, "still here");
}

TEST_F(e2e_files, an_instance_stops_cleanly_while_transfers_are_open_and_leaves_no_part_listed)
{
    // An installation of its own, stopped under the transfers.
    MessagingSite own;
    ASSERT_TRUE(own.ready) << own.Output();
    auto ann = own.Login(N("ann"), {N("team")});
    JsonMessage r = ann->Reply(Request("Post", Json().Str("topic", N("team")).Str("text", "t")), "PostResult");
    std::string id = std::to_string(r.Number("id")),
                session = "session=" + std::to_string(r.Number("session")) + "&key=" + std::to_string(r.Number("key"));
    std::string file = own.site.dir / "whole";
    WriteFile(file, Pattern(3 << 20));
    EXPECT_EQ(Http(own.site.dir, {"--data-binary", "@" + file,
                                  own.web.Url("/messages/?msg-id=" + id + "&" + session + "&file-name=whole")})
                  .status,
              200);
    std::string whole = own.Value("SELECT id FROM files WHERE folder=" + id);

    RawClient up(own.web.port), down(own.web.port);
    ASSERT_TRUE(up.Write("POST /messages/?msg-id=" + id + "&" + session +
                         "&file-name=cut HTTP/1.1\r\nHost: e2e\r\n"
                         "Content-Length: 1000000\r\n\r\n" +
                         Pattern(300000)));
    // The reader takes a little and then nothing: the download stays open.
    ASSERT_TRUE(down.Write("GET /messages/files/" + whole + "/whole?" + session + " HTTP/1.1\r\nHost: e2e\r\n\r\n"));
    EXPECT_GE(down.Read(100000).size(), 100000u);
    for (int i = 0; i < 500 && own.Value("SELECT count(*) FROM files WHERE folder=" + id) != "2"; i++) usleep(20000);

    EXPECT_EQ(own.service->process.Stop(), 0) << own.service->process.Output();
    EXPECT_EQ(own.Value("SELECT count(*) FROM files WHERE folder=" + id + " AND size>=0 AND incomplete IS NOT TRUE"),
              "1");
    own.service.reset();
    own.Stop();
}
