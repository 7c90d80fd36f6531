// Browser login on behalf of the platform: the person signs in here, and gets back the
// "AppLogin" members for the challenge their app websocket received, digest included.
// The app password never leaves this process.
//
//   POST /platform/login   (application/x-www-form-urlencoded)
//     path=WEBPATH  app=APP  challenge=HEX  sip=USER  [password=PW]  [domain=D]  [info=JSON-TEXT]
//   200 {"app","domain","sip","guid","dn","digest"[,"info"]}; 400 incomplete, 403 refused, 404 no such app.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/webserver/options.h"

namespace wsp {

class AppLogin {
public:
    static constexpr const char* kPath = "/platform/login";

    // Returns an error text when the users file cannot be read.
    std::string Load(const Options& options);
    bool Enabled() const { return !apps_.empty(); }

    struct Answer {
        unsigned status;
        std::string body;  // JSON on success, a line of text otherwise
    };
    // `host` is the request's Host, the default domain.
    Answer Login(const std::string& form, const std::string& host) const;

    static std::string Sha256Hex(const std::string& text);

private:
    struct User {
        std::string sip, password, dn;
    };
    std::vector<std::pair<std::string, std::string>> apps_;
    std::vector<User> users_;
    bool open_ = false;
};

}  // namespace wsp
