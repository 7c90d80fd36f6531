// The web client as a browser gets it, through platform-webserver and the
// plugin link from the real messages process: every file of the table with
// its type, compression and tag, ranges and unchanged answers; the bare
// address leading to the app page; paths outside the current build
// redirected into it; a page that leads back to the app for what does not
// exist; and the methods OPTIONS lists.
#include "tests/e2e/e2e_harness.h"

#include "runtime/build_info.h"

using namespace e2e;

namespace {

const std::string page = "solvantique-messages.htm";

// The stand-in and messages, started once for the file.
class e2e_static_files : public ::testing::Test {
protected:
    struct Site {
        Installation site;
        StandIn web{site.socketPath};
        Service service{site.socketPath, site.db};
    };
    static void SetUpTestSuite() { s = new Site; }
    static void TearDownTestSuite()
    {
        EXPECT_EQ(s->service.process.Stop(), 0) << s->service.process.Output();
        EXPECT_EQ(s->web.process.Stop(), 0) << s->web.process.Output();
        delete s;
    }
    void SetUp() override
    {
        ASSERT_NE(s->web.port, 0) << s->web.process.Output();
        ASSERT_TRUE(s->web.Registered("/messages", {"http path /messages"})) << s->web.process.Output();
    }
    static HttpResponse Get(const std::string& path, std::vector<std::string> args = {})
    {
        args.push_back(s->web.Url(path));
        return Http(s->site.dir, args);
    }
    // The current build's path of a table file.
    static std::string Built(const std::string& file) { return "/messages/" + std::string(messagesBuild) + "/" + file; }
    static std::string Source(const std::string& file) { return ReadFile(std::string(WEB_CLIENT_DIR) + "/" + file); }

    static inline Site* s = nullptr;
};

}  // namespace

TEST_F(e2e_static_files, table_files_carry_their_type_encoding_and_etag_answer_304_to_it_and_serve_ranges)
{
    struct Entry {
        std::string name, type;
    };
    const std::string js = "application/javascript; charset=utf-8", css = "text/css; charset=utf-8",
                      html = "text/html; charset=utf-8", png = "image/png";
    std::vector<Entry> plain = {{page, html},
                                {"solvantique-topic.htm", html},
                                {"solvantique-topic~readonly.htm", html},
                                {"solvantique-discussion.htm", html},
                                {"solvantique-messages-api.htm", html},
                                {"solvantique-messages.png", png},
                                {"solvantique-topic.png", png},
                                {"solvantique-topic~readonly.png", png}};
    // Scripts and styles are stored gzip-compressed and leave that way,
    // tagged with the MD5 of the compressed bytes.
    std::vector<Entry> gzip = {{"solvantique.messages.js", js},
                               {"solvantique.messages.model.js", js},
                               {"solvantique.messages.controller.js", js},
                               {"solvantique.messages.css", css},
                               {"solvantique.messages.list.js", js},
                               {"solvantique.messages.topic.js", js},
                               {"solvantique.messages.discussion.js", js},
                               {"solvantique.messages.api.js", js},
                               {"solvantique.messagesTexts.js", js},
                               {"solvantique.messagesColors.js", js},
                               {"solvantique.ManagerMessages.js", js},
                               {"solvantique.ManagerMessages.css", css},
                               {"solvantique.ManagerMessagesTexts.js", js},
                               {"web/appwebsocket/solvantique.appwebsocket.Connection.js", js},
                               {"web/fonts/titilliumweb-regular.ttf", "font/ttf"},
                               {"web/lib1/solvantique.lib1.js", js},
                               {"web/lib1/solvantique.lib1.css", css},
                               {"web/com.solvantique.avatar/com.solvantique.avatar.js", js},
                               {"web/ui1.lib/solvantique.ui1.lib.js", js},
                               {"web/ui1.scrolling/solvantique.ui1.scrolling.js", js},
                               {"web/ui1.svg/solvantique.ui1.svg.js", js},
                               {"web/ui1.editor/solvantique.ui1.editor.js", js},
                               {"web/ui1.editor/ui1.editor.png", png},
                               {"web/ui1.popup/solvantique.ui1.popup.js", js},
                               {"web/ui1.file/solvantique.ui1.file.js", js}};
    for (bool zipped : {false, true})
        for (const Entry& e : zipped ? gzip : plain) {
            std::string source = Source(e.name);
            EXPECT_FALSE(source.empty()) << e.name;
            HttpResponse r = Get(Built(e.name));
            EXPECT_EQ(r.status, 200) << e.name;
            EXPECT_EQ(r.Field("content-type"), e.type) << e.name;
            EXPECT_EQ(r.Field("content-encoding"), zipped ? "gzip" : "") << e.name;
            EXPECT_EQ(r.Field("content-length"), std::to_string(r.body.size())) << e.name;
            EXPECT_TRUE((zipped ? Gunzip(r.body) : r.body) == source) << e.name;
            EXPECT_EQ(r.Field("etag"), "\"" + Md5Hex(r.body) + "\"") << e.name;
        }
    // A client that unpacks gets the source.
    EXPECT_EQ(Get(Built("solvantique.messages.css"), {"--compressed"}).body, Source("solvantique.messages.css"));

    // The tag back, bare, quoted or weak: not modified, and no body; another tag is a changed file.
    std::string source = Source(page), etag = "\"" + Md5Hex(source) + "\"";
    for (std::string tag : {etag, "W/" + etag, Md5Hex(source)}) {
        HttpResponse again = Get(Built(page), {"-H", "If-None-Match: " + tag});
        EXPECT_EQ(again.status, 304) << tag;
        EXPECT_EQ(again.body, "") << tag;
        EXPECT_EQ(again.Field("etag"), etag) << tag;
    }
    EXPECT_EQ(Get(Built(page), {"-H", "If-None-Match: \"0123456789abcdef0123456789abcdef\""}).body, source);
    std::string styles = Built("solvantique.messages.css");
    EXPECT_EQ(Get(styles, {"-H", "If-None-Match: " + Get(styles).Field("etag")}).status, 304);

    // Ranges: only the bytes asked for, with where they sit in the whole.
    size_t size = source.size();
    struct {
        std::string range;
        size_t first, last;
    } ranges[] = {{"10-19", 10, 19}, {"100-", 100, size - 1}, {"-7", size - 7, size - 1}, {"0-0", 0, 0},
                  {"250-99999", 250, size - 1}};
    for (auto& c : ranges) {
        HttpResponse part = Get(Built(page), {"-H", "Range: bytes=" + c.range});
        EXPECT_EQ(part.status, 206) << c.range;
        EXPECT_EQ(part.body, source.substr(c.first, c.last - c.first + 1)) << c.range;
        EXPECT_EQ(part.Field("content-range"), "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + "/" +
                                                   std::to_string(size))
            << c.range;
    }
    // A range past the end, or one that is no range at all, is refused.
    for (std::string range : {"99999-", "x-y"}) {
        HttpResponse refused = Get(Built(page), {"-H", "Range: bytes=" + range});
        EXPECT_TRUE(refused.status == 400 || refused.status == 416) << range << ": " << refused.status;
        EXPECT_EQ(refused.body.find(source.substr(0, 20)), std::string::npos) << range;
    }
    // The font: for pages of any origin, bigger than one block, in ranges across blocks.
    std::string font = Built("web/fonts/titilliumweb-regular.ttf");
    HttpResponse whole = Get(font);
    EXPECT_EQ(whole.Field("access-control-allow-origin"), "*");
    ASSERT_GT(whole.body.size(), 80000u);
    HttpResponse part = Get(font, {"-H", "Range: bytes=30000-80000"});
    EXPECT_EQ(part.status, 206);
    EXPECT_TRUE(part.body == whole.body.substr(30000, 50001)) << part.body.size() << " bytes";

    // A HEAD gets the header of the GET without the body: the GET after it
    // on the same connection is the next thing the client reads.
    std::string both = RawExchange(s->web.port, "HEAD " + Built(page) + " HTTP/1.1\r\nHost: e2e\r\n\r\n" + "GET " +
                                                    Built(page) + " HTTP/1.1\r\nHost: e2e\r\nConnection: close\r\n\r\n");
    size_t headEnd = both.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos) << both;
    std::string headAnswer = both.substr(0, headEnd + 4), getAnswer = both.substr(headEnd + 4);
    EXPECT_EQ(headAnswer.compare(0, 15, "HTTP/1.1 200 OK"), 0) << headAnswer;
    EXPECT_NE(headAnswer.find("Content-Length: " + std::to_string(size) + "\r\n"), std::string::npos) << headAnswer;
    EXPECT_EQ(getAnswer.compare(0, 15, "HTTP/1.1 200 OK"), 0) << getAnswer;
    EXPECT_EQ(getAnswer.substr(getAnswer.find("\r\n\r\n") + 4), source);
}

TEST_F(e2e_static_files, the_bare_address_and_paths_outside_the_current_build_are_redirected_to_the_app_page)
{
    std::string build = messagesBuild;
    // Relative targets, so that the redirect holds behind any prefix the
    // platform puts in front; an older build's number is replaced.
    struct {
        std::string path, location;
    } cases[] = {
        {"/messages", "/messages/"},
        {"/messages/", "./" + build + "/" + page},
        {"/messages/?user=x", "./" + build + "/" + page + "?user=x"},
        {"/messages/" + build, "./" + build + "/" + page},
        {"/messages/" + build + "/", page},
        {"/messages/" + build + "/?a=/b", page + "?a=/b"},
        {"/messages/" + page, "./" + build + "/" + page},
        {"/messages/0/" + page + "?t=/a/b", "../" + build + "/" + page + "?t=/a/b"},
        {"/messages/" + build + "0/" + page, "../" + build + "/" + page},
        {"/messages/x/y/" + page, "../../" + build + "/x/y/" + page},
    };
    for (auto& c : cases) {
        HttpResponse r = Get(c.path);
        EXPECT_EQ(r.status, 302) << c.path;
        EXPECT_EQ(r.Field("location"), c.location) << c.path;
    }
    // From the address a person types, redirects end at the page itself.
    for (std::string address : std::vector<std::string>{"/messages", "/messages/0/", "/messages/0/" + page}) {
        HttpResponse followed = Get(address, {"-L"});
        EXPECT_EQ(followed.status, 200) << address;
        EXPECT_EQ(followed.body, Source(page)) << address;
    }
}

TEST_F(e2e_static_files, what_is_missing_below_the_current_build_is_a_page_that_links_to_the_app)
{
    struct {
        std::string file, link;
    } cases[] = {{"nothing.htm", page}, {"a/b/nothing.js?x=/y/z", "../../" + page}, {"a//", "../../" + page}};
    for (auto& c : cases) {
        HttpResponse r = Get(Built(c.file));
        EXPECT_EQ(r.status, 404) << c.file;
        EXPECT_EQ(r.Field("content-type"), "text/html; charset=utf-8") << c.file;
        EXPECT_EQ(r.Field("content-length"), std::to_string(r.body.size())) << c.file;
        EXPECT_EQ(r.Field("status"), "") << c.file;
        EXPECT_NE(r.body.find("<a href=\"" + c.link + "\">"), std::string::npos) << c.file << ": " << r.body;
    }
    // A HEAD gets the status without the page; the connection serves the next request.
    std::string target = Built("nothing.htm");
    std::string both = RawExchange(s->web.port, "HEAD " + target + " HTTP/1.1\r\nHost: e2e\r\n\r\n" + "GET " + target +
                                                    " HTTP/1.1\r\nHost: e2e\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(both.compare(0, 22, "HTTP/1.1 404 Not Found"), 0) << both;
    size_t second = both.find("HTTP/1.1 404", 10);
    ASSERT_NE(second, std::string::npos) << both;
    EXPECT_EQ(both.substr(0, second).find("<a href"), std::string::npos) << both;
    EXPECT_NE(both.find("<a href", second), std::string::npos) << both;

    // Other methods than GET and OPTIONS find nothing; OPTIONS lists what the web path takes.
    EXPECT_EQ(Get("/messages/x", {"--data-binary", "x"}).status, 404);
    HttpResponse options = Get("/messages/anything", {"-X", "OPTIONS"});
    EXPECT_EQ(options.status, 200);
    EXPECT_EQ(options.Field("allow"),
              "GET, POST, PUT, PROPFIND, MOVE, COPY, MKCOL, DELETE, OPTIONS, LOCK, UNLOCK, PROPPATCH");
    EXPECT_EQ(options.Field("access-control-allow-origin"), "*");
    EXPECT_EQ(options.Field("access-control-allow-headers"), "content-type");
    EXPECT_EQ(options.body, "");
}
