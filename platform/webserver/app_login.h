// Browser login on behalf of the platform: the person signs in here, and gets
// back the "AppLogin" members for the challenge their app websocket received,
// digest included. The app password never leaves this process, and the page
// never keeps the person's password: a cookie remembers the login instead.
//
//   GET  /platform/login?path=WEBPATH
//     200 {"mode":"users"|"open"[,"sip":USER when the cookie names a live login]}; 404 no app there.
//   POST /platform/login   (application/x-www-form-urlencoded)
//     path=WEBPATH  challenge=HEX  and either  sip=USER [password=PW]  or nothing more (cookie login)
//     200 {"app","domain","sip","guid","dn","digest","info"}, the members of the page's "AppLogin";
//     a login with sip sets "platform-login=TOKEN; Path=/; HttpOnly; SameSite=Strict".
//     400 incomplete, 403 wrong user or password or unknown cookie, 404 no app there.
//   POST /platform/logout  forgets the cookie's login; 200.
//
// "info" is decided here, as the platform would: {"appobj": APP, or APP "~admin"
// for an administrator, "appdn":"Messages", "apps":[{"name","dn"} per topic],
// "groups":[...]}. The domain is the Host the browser used, without the port.
// In open mode anyone logs in under the name they give, as an administrator:
// that is the single person on their own machine.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/webserver/login_users.h"
#include "platform/webserver/options.h"

namespace wsp {

class AppLogin {
public:
    static constexpr const char* kPath = "/platform/login";
    static constexpr const char* kLogoutPath = "/platform/logout";
    static constexpr const char* kCookie = "platform-login";

    // Returns an error text when the users file cannot be read.
    std::string Load(const Options& options);
    bool Enabled() const { return !apps_.empty(); }
    // The web path of the only app, empty when there are none or several.
    std::string SingleAppPath() const { return apps_.size() == 1 ? apps_[0].path : std::string(); }

    struct Answer {
        unsigned status;
        std::string body;       // JSON on success, a line of text otherwise
        std::string setCookie;  // a Set-Cookie value, when the answer sets one
    };
    // `query` is the request's query string; `cookies` all its Cookie headers joined by "; ".
    Answer Mode(const std::string& query, const std::string& cookies) const;
    // `host` is the request's Host, which names the login's domain.
    Answer Login(const std::string& form, const std::string& host, const std::string& cookies);
    Answer Logout(const std::string& cookies);

    static std::string Sha256Hex(const std::string& text);

private:
    const AppOption* FindApp(const std::string& path) const;
    const LoginUser* Remembered(const std::string& cookies) const;
    std::string Remember(const LoginUser& user);

    std::vector<AppOption> apps_;
    std::vector<LoginUser> users_;
    bool open_ = false;
    // Logins by cookie token, and the tokens oldest first so that the store stays bounded.
    std::map<std::string, LoginUser> logins_;
    std::deque<std::string> order_;
};

}  // namespace wsp
