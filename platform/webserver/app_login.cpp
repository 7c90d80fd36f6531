#include "platform/webserver/app_login.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <stdio.h>

#include <algorithm>

#include "platform/webserver/login_text.h"

namespace wsp {

namespace {

// Enough for every browser of a team; the oldest login is forgotten first.
constexpr size_t kMaxLogins = 10000;

std::string TrimPath(std::string p)
{
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

bool SameSecret(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// A name typed in open mode is the person's display name, without blanks
// around it or doubled inside; empty when it holds a control character.
std::string DisplayName(const std::string& typed)
{
    std::string dn;
    for (unsigned char c : typed) {
        if (c < ' ' || c == 0x7f) return std::string();
        if (c != ' ' || (!dn.empty() && dn.back() != ' ')) dn += char(c);
    }
    while (!dn.empty() && dn.back() == ' ') dn.pop_back();
    return dn;
}

std::string DomainOf(const std::string& host)
{
    size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.back() == ']' || host.find(']', colon) != std::string::npos) return host;
    return host.substr(0, colon);
}

}  // namespace

std::string AppLogin::Sha256Hex(const std::string& text)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
    std::string hex;
    char b[3];
    for (unsigned char c : digest) snprintf(b, sizeof(b), "%02x", c), hex += b;
    return hex;
}

std::string AppLogin::Load(const Options& options)
{
    apps_ = options.apps;
    open_ = options.openLogin;
    if (options.usersFile.empty()) return std::string();
    return ReadUsersFile(options.usersFile, users_);
}

const AppOption* AppLogin::FindApp(const std::string& path) const
{
    std::string p = TrimPath(path);
    for (auto& a : apps_)
        if (a.path == p) return &a;
    return nullptr;
}

const LoginUser* AppLogin::Remembered(const std::string& cookies) const
{
    std::string token = CookieValue(cookies, kCookie);
    auto it = token.empty() ? logins_.end() : logins_.find(token);
    return it == logins_.end() ? nullptr : &it->second;
}

std::string AppLogin::Remember(const LoginUser& user)
{
    unsigned char random[16];
    if (RAND_bytes(random, sizeof(random)) != 1) return std::string();
    std::string token;
    char b[3];
    for (unsigned char c : random) snprintf(b, sizeof(b), "%02x", c), token += b;
    logins_[token] = user;
    // The person's password is not needed again.
    logins_[token].password.clear();
    order_.push_back(token);
    while (order_.size() > kMaxLogins) {
        logins_.erase(order_.front());
        order_.pop_front();
    }
    return token;
}

AppLogin::Answer AppLogin::Mode(const std::string& query, const std::string& cookies) const
{
    auto q = ParseForm(query);
    if (!FindApp(q["path"])) return {404, "no app under that path\n", ""};
    std::string body = std::string("{\"mode\":\"") + (open_ ? "open" : "users") + "\"";
    if (const LoginUser* user = Remembered(cookies)) body += ",\"sip\":" + JsonString(user->sip);
    return {200, body + "}\n", ""};
}

AppLogin::Answer AppLogin::Login(const std::string& form, const std::string& host, const std::string& cookies)
{
    auto f = ParseForm(form);
    bool sipGiven = f.count("sip") || f.count("password");
    const std::string &challenge = f["challenge"], &sip = f["sip"];
    if (challenge.empty()) return {400, "path and challenge are needed\n", ""};
    const AppOption* app = FindApp(f["path"]);
    if (!app) return {404, "no app under that path\n", ""};

    LoginUser user;
    std::string token;
    if (sip.empty()) {
        if (sipGiven) return {400, "sip is empty\n", ""};
        const LoginUser* remembered = Remembered(cookies);
        if (!remembered) return {403, "no login remembered for this browser\n", ""};
        user = *remembered;
    }
    else if (open_) {
        // People type their full name: its SIP name has a dot for each blank.
        user.dn = DisplayName(sip);
        user.sip = user.dn;
        std::replace(user.sip.begin(), user.sip.end(), ' ', '.');
        if (user.sip.empty() || user.sip.size() > 128) return {400, "not a usable name\n", ""};
        user.admin = true;
        token = Remember(user);
    }
    else {
        const LoginUser* known = nullptr;
        for (auto& u : users_)
            if (u.sip == sip) known = &u;
        if (!known || !SameSecret(known->password, f["password"])) return {403, "wrong user or password\n", ""};
        user = *known;
        token = Remember(user);
    }

    std::string domain = DomainOf(host);
    // The same person always gets the same guid, without a store of our own.
    std::string guid = Sha256Hex("guid:" + user.sip).substr(0, 32);
    std::string info = user.InfoText(app->name);
    std::string digest = Sha256Hex(app->name + ":" + domain + ":" + user.sip + ":" + guid + ":" + user.dn + ":" + info +
                                   ":" + challenge + ":" + app->password);
    std::string body = "{\"app\":" + JsonString(app->name) + ",\"domain\":" + JsonString(domain) +
                       ",\"sip\":" + JsonString(user.sip) + ",\"guid\":" + JsonString(guid) +
                       ",\"dn\":" + JsonString(user.dn) + ",\"digest\":" + JsonString(digest) + ",\"info\":" + info + "}\n";
    std::string cookie;
    if (!token.empty()) cookie = std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict";
    return {200, body, cookie};
}

AppLogin::Answer AppLogin::Logout(const std::string& cookies)
{
    std::string token = CookieValue(cookies, kCookie);
    if (!token.empty()) logins_.erase(token);
    return {200, "logged out\n", std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict"};
}

}  // namespace wsp
