// The web client as a browser gets it, through platform-webserver and the
// plugin link from the real messages process: the table's files with their
// tags, ranges and compression; the bare address leading to the app page;
// paths outside the current build redirected into it; a page that leads back
// to the app for what does not exist; and the methods OPTIONS lists.
#include "tests/e2e/e2e_harness.h"

#include "runtime/build_info.h"

using namespace e2e;

namespace {

const std::string page = "solvantique-messages.htm";
const std::string script = "solvantique.messages.js";
const std::string styles = "solvantique.messages.css";

// The stand-in, and messages once it has registered its web path.
class e2e_static_files : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(web.port, 0) << web.process.Output();
        ASSERT_TRUE(web.Registered("/messages", {"http path /messages"})) << web.process.Output();
    }
    void TearDown() override
    {
        EXPECT_EQ(service.process.Stop(), 0) << service.process.Output();
        EXPECT_EQ(web.process.Stop(), 0) << web.process.Output();
    }
    // The current build's URL of a table file.
    std::string Url(const std::string& file) { return web.Url("/messages/" + std::string(messagesBuild) + "/" + file); }

    Installation site;
    StandIn web{site.socketPath};
    Service service{site.socketPath, site.db};
};

}  // namespace

TEST_F(e2e_static_files, table_files_carry_their_etag_answer_304_to_it_serve_ranges_and_keep_gzip_content_encoded)
{
    std::string source = ReadFile(std::string(WEB_CLIENT_DIR) + "/" + page);
    ASSERT_FALSE(source.empty());

    // A page stored as it is: the source's bytes, tagged with their MD5.
    HttpResponse r = Http(site.dir, {Url(page)});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, source);
    EXPECT_EQ(r.Field("etag"), "\"" + Md5Hex(source) + "\"");
    EXPECT_EQ(r.Field("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(r.Field("content-length"), std::to_string(source.size()));
    EXPECT_EQ(r.Field("content-encoding"), "");

    // The tag back, bare, quoted or weak: not modified, and no body.
    for (std::string tag : {r.Field("etag"), "W/" + r.Field("etag"), Md5Hex(source)}) {
        HttpResponse again = Http(site.dir, {"-H", "If-None-Match: " + tag, Url(page)});
        EXPECT_EQ(again.status, 304) << tag;
        EXPECT_EQ(again.body, "") << tag;
        EXPECT_EQ(again.Field("etag"), r.Field("etag")) << tag;
    }
    // Another tag is a changed file.
    HttpResponse changed = Http(site.dir, {"-H", "If-None-Match: \"0123456789abcdef0123456789abcdef\"", Url(page)});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.body, source);

    // Ranges: only the bytes asked for, with where they sit in the whole.
    size_t size = source.size();
    struct {
        std::string range;
        size_t first, last;
    } ranges[] = {{"10-19", 10, 19}, {"100-", 100, size - 1}, {"-7", size - 7, size - 1}, {"0-0", 0, 0},
                  {"250-99999", 250, size - 1}};
    for (auto& c : ranges) {
        HttpResponse part = Http(site.dir, {"-H", "Range: bytes=" + c.range, Url(page)});
        EXPECT_EQ(part.status, 206) << c.range;
        EXPECT_EQ(part.body, source.substr(c.first, c.last - c.first + 1)) << c.range;
        EXPECT_EQ(part.Field("content-range"), "bytes " + std::to_string(c.first) + "-" + std::to_string(c.last) + "/" +
                                                   std::to_string(size))
            << c.range;
        EXPECT_EQ(part.Field("content-length"), std::to_string(c.last - c.first + 1)) << c.range;
    }
    // A range past the end, or one that is no range at all, is refused.
    for (std::string range : {"99999-", "x-y"}) {
        HttpResponse refused = Http(site.dir, {"-H", "Range: bytes=" + range, Url(page)});
        EXPECT_TRUE(refused.status == 400 || refused.status == 416) << range << ": " << refused.status;
        EXPECT_EQ(refused.body.find(source.substr(0, 20)), std::string::npos) << range;
    }

    // Scripts and styles are stored gzip-compressed and leave that way,
    // tagged with the MD5 of the compressed bytes.
    for (const std::string& file : {script, styles}) {
        std::string plain = ReadFile(std::string(WEB_CLIENT_DIR) + "/" + file);
        ASSERT_FALSE(plain.empty()) << file;
        HttpResponse z = Http(site.dir, {Url(file)});
        EXPECT_EQ(z.status, 200) << file;
        EXPECT_EQ(z.Field("content-encoding"), "gzip") << file;
        EXPECT_EQ(z.Field("content-length"), std::to_string(z.body.size())) << file;
        EXPECT_EQ(Gunzip(z.body), plain) << file;
        EXPECT_EQ(z.Field("etag"), "\"" + Md5Hex(z.body) + "\"") << file;
        // A client that unpacks gets the source.
        EXPECT_EQ(Http(site.dir, {"--compressed", Url(file)}).body, plain) << file;
        EXPECT_EQ(Http(site.dir, {"-H", "If-None-Match: " + z.Field("etag"), Url(file)}).status, 304) << file;
    }
    EXPECT_EQ(Http(site.dir, {"--compressed", Url(script)}).Field("content-type"),
              "application/javascript; charset=utf-8");

    // A HEAD gets the header of the GET without the body: the GET after it
    // on the same connection is the next thing the client reads.
    std::string target = "/messages/" + std::string(messagesBuild) + "/" + page;
    std::string both = RawExchange(web.port, "HEAD " + target + " HTTP/1.1\r\nHost: e2e\r\n\r\n" + "GET " + target +
                                                 " HTTP/1.1\r\nHost: e2e\r\nConnection: close\r\n\r\n");
    size_t headEnd = both.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos) << both;
    std::string headAnswer = both.substr(0, headEnd + 4), getAnswer = both.substr(headEnd + 4);
    EXPECT_EQ(headAnswer.compare(0, 15, "HTTP/1.1 200 OK"), 0) << headAnswer;
    EXPECT_NE(headAnswer.find("Content-Length: " + std::to_string(size) + "\r\n"), std::string::npos) << headAnswer;
    EXPECT_EQ(getAnswer.compare(0, 15, "HTTP/1.1 200 OK"), 0) << getAnswer;
    EXPECT_EQ(getAnswer.substr(getAnswer.find("\r\n\r\n") + 4), source);
}

TEST_F(e2e_static_files, the_bare_address_and_the_build_folder_lead_to_the_app_page)
{
    std::string build = messagesBuild;
    std::string source = ReadFile(std::string(WEB_CLIENT_DIR) + "/" + page);
    struct {
        std::string path, location;
    } cases[] = {
        {"/messages/", "./" + build + "/" + page},
        {"/messages/?user=x", "./" + build + "/" + page + "?user=x"},
        {"/messages/" + build, "./" + build + "/" + page},
        {"/messages/" + build + "/", page},
        {"/messages/" + build + "/?a=/b", page + "?a=/b"},
    };
    for (auto& c : cases) {
        HttpResponse r = Http(site.dir, {web.Url(c.path)});
        EXPECT_EQ(r.status, 302) << c.path;
        EXPECT_EQ(r.Field("location"), c.location) << c.path;
    }
    // From the address a person types, redirects end at the page itself.
    for (std::string address : {"/messages", "/messages/", "/messages/0/"}) {
        HttpResponse followed = Http(site.dir, {"-L", web.Url(address)});
        EXPECT_EQ(followed.status, 200) << address;
        EXPECT_EQ(followed.body, source) << address;
    }
}

TEST_F(e2e_static_files, what_is_missing_below_the_current_build_is_a_page_that_links_to_the_app)
{
    struct {
        std::string file, link;
    } cases[] = {{"nothing.htm", page}, {"a/b/nothing.js?x=/y/z", "../../" + page}, {"a//", "../../" + page}};
    for (auto& c : cases) {
        HttpResponse r = Http(site.dir, {Url(c.file)});
        EXPECT_EQ(r.status, 404) << c.file;
        EXPECT_EQ(r.Field("content-type"), "text/html; charset=utf-8") << c.file;
        EXPECT_EQ(r.Field("content-length"), std::to_string(r.body.size())) << c.file;
        EXPECT_EQ(r.Field("status"), "") << c.file;
        EXPECT_NE(r.body.find("<a href=\"" + c.link + "\">"), std::string::npos) << c.file << ": " << r.body;
    }
    // A HEAD gets the status without the page; the connection serves the next request.
    std::string target = "/messages/" + std::string(messagesBuild) + "/nothing.htm";
    std::string both = RawExchange(web.port, "HEAD " + target + " HTTP/1.1\r\nHost: e2e\r\n\r\n" + "GET " + target +
                                                 " HTTP/1.1\r\nHost: e2e\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(both.compare(0, 22, "HTTP/1.1 404 Not Found"), 0) << both;
    size_t second = both.find("HTTP/1.1 404", 10);
    ASSERT_NE(second, std::string::npos) << both;
    EXPECT_EQ(both.substr(0, second).find("<a href"), std::string::npos) << both;
    EXPECT_NE(both.find("<a href", second), std::string::npos) << both;
}

TEST_F(e2e_static_files, paths_outside_the_current_build_are_redirected_into_it_and_options_list_the_methods)
{
    std::string build = messagesBuild;
    std::string source = ReadFile(std::string(WEB_CLIENT_DIR) + "/" + page);

    // Relative targets, so that the redirect holds behind any prefix the
    // platform puts in front; an older build's number is replaced.
    struct {
        std::string path, location;
    } cases[] = {
        {"/messages/" + page, "./" + build + "/" + page},
        {"/messages/0/" + page, "../" + build + "/" + page},
        {"/messages/0/" + page + "?t=/a/b", "../" + build + "/" + page + "?t=/a/b"},
        {"/messages/" + build + "0/" + page, "../" + build + "/" + page},
        {"/messages/x/y/" + page, "../../" + build + "/x/y/" + page},
    };
    for (auto& c : cases) {
        HttpResponse r = Http(site.dir, {web.Url(c.path)});
        EXPECT_EQ(r.status, 302) << c.path;
        EXPECT_EQ(r.Field("location"), c.location) << c.path;
    }
    // Following the redirect ends at the file.
    HttpResponse followed = Http(site.dir, {"-L", web.Url("/messages/0/" + page)});
    EXPECT_EQ(followed.status, 200);
    EXPECT_EQ(followed.body, source);
    // The web path itself is a directory to the browser.
    HttpResponse bare = Http(site.dir, {web.Url("/messages")});
    EXPECT_EQ(bare.status, 302);
    EXPECT_EQ(bare.Field("location"), "/messages/");

    // The file endpoints refuse what names no session; they are no static paths.
    EXPECT_EQ(Http(site.dir, {web.Url("/messages/files/1/a.txt")}).status, 404);
    EXPECT_EQ(Http(site.dir, {web.Url("/messages/buffer/1")}).status, 404);
    // Other methods than GET and OPTIONS find nothing either.
    EXPECT_EQ(Http(site.dir, {"--data-binary", "x", web.Url("/messages/x")}).status, 404);

    HttpResponse options = Http(site.dir, {"-X", "OPTIONS", web.Url("/messages/anything")});
    EXPECT_EQ(options.status, 200);
    EXPECT_EQ(options.Field("allow"),
              "GET, POST, PUT, PROPFIND, MOVE, COPY, MKCOL, DELETE, OPTIONS, LOCK, UNLOCK, PROPPATCH");
    EXPECT_EQ(options.Field("access-control-allow-origin"), "*");
    EXPECT_EQ(options.Field("access-control-allow-headers"), "content-type");
    EXPECT_EQ(options.body, "");
}
