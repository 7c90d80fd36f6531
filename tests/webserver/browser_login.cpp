// The browser login of the real platform-webserver: users file and open mode,
// the cookie that logs a browser in again, logout, the info it decides for
// each person, and forms and cookies that are not what they should be.
#include <gtest/gtest.h>

#include "tests/support/digest.h"
#include "tests/webserver/webserver_harness.h"

using namespace wst;

namespace {

// A string member of a flat JSON answer ("" when absent).
std::string Member(const std::string& json, const std::string& name)
{
    size_t at = json.find("\"" + name + "\":\"");
    if (at == std::string::npos) return std::string();
    at += name.size() + 4;
    return json.substr(at, json.find('"', at) - at);
}

// The "info" object's text as the answer carries it: the last member, up to the closing brace.
std::string Info(const std::string& json)
{
    size_t at = json.find("\"info\":");
    return at == std::string::npos ? std::string() : json.substr(at + 7, json.rfind('}') - at - 7);
}

class Site {
public:
    Site(const std::string& users, std::vector<std::string> args)
    {
        if (!users.empty()) {
            WriteFile(dir / "users", users);
            args.push_back("--users=" + dir / "users");
        }
        server = std::make_unique<Webserver>(args);
    }
    HttpResponse Post(const std::string& form, const std::string& cookie = "", const std::string& path = "/platform/login")
    {
        return Http(dir, {"-H", "Cookie: " + cookie, "--data-raw", form, server->Url(path)});
    }
    HttpResponse Mode(const std::string& query, const std::string& cookie = "")
    {
        return Http(dir, {"-H", "Cookie: " + cookie, server->Url("/platform/login?" + query)});
    }

    TempDir dir;
    std::unique_ptr<Webserver> server;
};

// "platform-login=TOKEN" from the answer's Set-Cookie.
std::string CookieOf(HttpResponse& r)
{
    std::string set = r.fields["set-cookie"];
    return set.substr(0, set.find(';'));
}

}  // namespace

// The browser tests (tests/browser/login.test.js) log people in through a page,
// again on the cookie, and out; here the exact answer, the cookie's attributes,
// several apps, and every refusal.
TEST(webserver_login, a_login_answers_what_the_platform_decides_under_a_strict_cookie)
{
    Site site("# sip:password:display name[:topics=a,b][:groups=g,h][:admin]\n"
              "alice:secret:Alice: the Admin:topics=general,board:groups=staff:admin\n"
              "bob:pw2:Bob\n",
              {"--app=/app/:app-pw:board", "--app=/other:x"});
    Webserver& server = *site.server;
    ASSERT_GT(server.port, 0);
    EXPECT_EQ(site.Mode("path=/nothing").status, 404);

    auto r = site.Post("path=/app/&challenge=0123abcd&sip=alice&password=secret");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(r.fields["content-type"], "application/json");
    EXPECT_EQ(r.fields["cache-control"], "no-store");
    std::string cookie = CookieOf(r);
    EXPECT_EQ(cookie.compare(0, 15, "platform-login="), 0);
    EXPECT_GE(cookie.size(), 15u + 32u);
    EXPECT_NE(r.fields["set-cookie"].find("; Path=/; HttpOnly; SameSite=Strict"), std::string::npos);
    // The app object with the admin mark, the topics and the groups.
    std::string info = Info(r.body);
    EXPECT_EQ(info, "{\"appobj\":\"board~admin\",\"appdn\":\"Messages\",\"apps\":[{\"name\":\"general\",\"dn\":\"general\"},"
                    "{\"name\":\"board\",\"dn\":\"board\"}],\"groups\":[\"staff\"]}");
    EXPECT_EQ(Member(r.body, "app"), "board");
    EXPECT_EQ(Member(r.body, "domain"), "127.0.0.1");
    EXPECT_EQ(Member(r.body, "dn"), "Alice: the Admin");
    std::string guid = Member(r.body, "guid");
    EXPECT_EQ(guid.size(), 32u);
    EXPECT_EQ(Member(r.body, "digest"), Sha256Hex("board:127.0.0.1:alice:" + guid + ":Alice: the Admin:" + info +
                                                  ":0123abcd:app-pw"));
    EXPECT_EQ(r.body.find("app-pw"), std::string::npos);
    EXPECT_EQ(r.body.find("secret"), std::string::npos);

    // The cookie's login reaches the other app, under that app's name and password, and sets no new cookie.
    auto other = site.Post("path=/other&challenge=c1", cookie);
    ASSERT_EQ(other.status, 200);
    EXPECT_EQ(other.fields.count("set-cookie"), 0u);
    EXPECT_EQ(Member(other.body, "guid"), guid);
    EXPECT_NE(Info(other.body).find("\"appobj\":\"other~admin\""), std::string::npos);

    const std::pair<const char*, int> refused[] = {
        {"path=/app&challenge=c&sip=alice&password=wrong", 403}, {"path=/app&challenge=c&sip=alice", 403},
        {"path=/app&challenge=c&sip=nobody&password=secret", 403}, {"path=/app&challenge=c", 403},
        {"path=/nothing&challenge=c&sip=alice&password=secret", 404}, {"path=/app&sip=alice&password=secret", 400},
        {"path=/app&challenge=c&sip=&password=secret", 400}};
    for (auto& f : refused) EXPECT_EQ(site.Post(f.first).status, f.second) << f.first;
    EXPECT_EQ(site.Post("path=/app&challenge=c", "platform-login=0123").status, 403);
    EXPECT_EQ(Http(site.dir, {"-X", "PUT", server.Url("/platform/login")}).status, 405);

    // Logging out forgets this browser's login, and only it.
    auto bob = site.Post("path=/app&challenge=c2&sip=bob&password=pw2");
    ASSERT_EQ(bob.status, 200);
    EXPECT_NE(site.Post("", cookie, "/platform/logout").fields["set-cookie"].find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(site.Post("path=/app&challenge=c3", cookie).status, 403);
    EXPECT_EQ(site.Post("path=/app&challenge=c4", CookieOf(bob)).status, 200);
    // Two apps: the root belongs to none of them.
    EXPECT_EQ(Http(site.dir, {server.Url("/")}).status, 404);
    EXPECT_EQ(server.Stop(), 0);
}

TEST(webserver_login, open_mode_takes_any_usable_name)
{
    Site site("", {"--app=/messages:kfo", "--open-login"});
    ASSERT_GT(site.server->port, 0);
    auto r = site.Post("path=/messages&challenge=abc&sip=zoe");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(Member(r.body, "digest"),
              Sha256Hex("messages:127.0.0.1:zoe:" + Member(r.body, "guid") + ":zoe:" + Info(r.body) + ":abc:kfo"));
    // A full name is the display name, and with dots for its blanks the SIP name.
    r = site.Post("path=/messages&challenge=abc&sip=+Zo%C3%AB++M%C3%BCller+");
    ASSERT_EQ(r.status, 200) << r.body;
    EXPECT_EQ(Member(r.body, "sip"), "Zo\xc3\xab.M\xc3\xbcller");
    EXPECT_EQ(Member(r.body, "dn"), "Zo\xc3\xab M\xc3\xbcller");
    // Control characters, blanks alone and overlong names make none.
    for (std::string name : std::vector<std::string>{"a%09b", "%00", "+++", std::string(200, 'n')})
        EXPECT_EQ(site.Post("path=/messages&challenge=abc&sip=" + name).status, 400) << name;
    EXPECT_EQ(site.Post("path=/messages&challenge=abc").status, 403);
    EXPECT_EQ(site.server->Stop(), 0);
}

TEST(webserver_login, malformed_forms_and_cookies_are_refused_and_the_server_stays_up)
{
    Site site("alice:secret:Alice\n", {"--app=/app:pw"});
    Webserver& server = *site.server;
    ASSERT_GT(server.port, 0);
    for (std::string form : std::vector<std::string>{"%", "%%%", "%zz=%", "&&&", "=", "==&=", "path", "path=%2", "challenge=%",
                             "path=/app&challenge=" + std::string(3000, '%'), "path=/app&&challenge=c&&sip=alice&password=%"})
        EXPECT_EQ(site.Post(form).status / 100, 4) << form.substr(0, 60);
    for (std::string cookie : std::vector<std::string>{"platform-login", "platform-login=", "=;=;;", "platform-login=%00", ";;;;platform-login= ;",
                               "a=b; platform-login=" + std::string(4000, 'x')})
        EXPECT_EQ(site.Post("path=/app&challenge=c", cookie).status, 403) << cookie.substr(0, 40);
    EXPECT_EQ(site.Mode("%&=%", "platform-login").status, 404);
    EXPECT_EQ(site.Post("", "platform-login=nothing", "/platform/logout").status, 200);
    // A form bigger than any login is refused unread.
    EXPECT_EQ(site.Post("path=/app&challenge=c&sip=alice&password=secret&pad=" + std::string(20000, 'p')).status, 413);
    EXPECT_EQ(site.Post("path=/app&challenge=c&sip=alice&password=secret").status, 200);
    EXPECT_TRUE(server.Alive());
    EXPECT_EQ(server.Stop(), 0);
}
