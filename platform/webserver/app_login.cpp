#include "platform/webserver/app_login.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <stdio.h>

#include <fstream>
#include <map>

namespace wsp {

namespace {

std::string Decode(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '+') out += ' ';
        else if (s[i] == '%' && i + 2 < s.size() && isxdigit((unsigned char)s[i + 1]) && isxdigit((unsigned char)s[i + 2])) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
        else out += s[i];
    }
    return out;
}

std::map<std::string, std::string> ParseForm(const std::string& form)
{
    std::map<std::string, std::string> fields;
    size_t at = 0;
    while (at <= form.size()) {
        size_t amp = form.find('&', at);
        std::string pair = form.substr(at, amp == std::string::npos ? std::string::npos : amp - at);
        size_t eq = pair.find('=');
        if (!pair.empty()) fields[Decode(pair.substr(0, eq))] = eq == std::string::npos ? "" : Decode(pair.substr(eq + 1));
        if (amp == std::string::npos) break;
        at = amp + 1;
    }
    return fields;
}

std::string Json(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += char(c);
        else if (c < 0x20) {
            char e[8];
            snprintf(e, sizeof(e), "\\u%04x", c);
            out += e;
        }
        else out += char(c);
    }
    return out + "\"";
}

std::string TrimPath(std::string p)
{
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

bool SameSecret(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
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
    for (auto& a : options.apps) apps_.emplace_back(TrimPath(a.first), a.second);
    open_ = options.openLogin;
    if (options.usersFile.empty()) return std::string();
    std::ifstream in(options.usersFile);
    if (!in) return "cannot read " + options.usersFile;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) return "bad line in " + options.usersFile + ": want sip:password:display name";
        users_.push_back(User{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return std::string();
}

AppLogin::Answer AppLogin::Login(const std::string& form, const std::string& host) const
{
    auto f = ParseForm(form);
    const std::string &app = f["app"], &challenge = f["challenge"], &sip = f["sip"];
    if (app.empty() || challenge.empty() || sip.empty()) return {400, "app, challenge and sip are needed\n"};

    const std::string* appPassword = nullptr;
    std::string path = TrimPath(f["path"]);
    for (auto& a : apps_)
        if (a.first == path || (path.empty() && apps_.size() == 1)) appPassword = &a.second;
    if (!appPassword) return {404, "no app under that path\n"};

    std::string dn;
    if (open_) {
        dn = f.count("dn") && !f["dn"].empty() ? f["dn"] : sip;
    }
    else {
        const User* user = nullptr;
        for (auto& u : users_)
            if (u.sip == sip) user = &u;
        if (!user || !SameSecret(user->password, f["password"])) return {403, "wrong user or password\n"};
        dn = user->dn;
    }
    std::string domain = f["domain"];
    if (domain.empty()) domain = host.substr(0, host.rfind(':') == std::string::npos || host.back() == ']' ? host.size() : host.rfind(':'));
    // The same person always gets the same guid, without a store of our own.
    std::string guid = Sha256Hex("guid:" + sip).substr(0, 32);
    std::string text = app + ":" + domain + ":" + sip + ":" + guid + ":" + dn + ":";
    if (f.count("info")) text += f["info"] + ":";
    text += challenge + ":" + *appPassword;

    std::string body = "{\"app\":" + Json(app) + ",\"domain\":" + Json(domain) + ",\"sip\":" + Json(sip) +
                       ",\"guid\":" + Json(guid) + ",\"dn\":" + Json(dn) + ",\"digest\":" + Json(Sha256Hex(text));
    return {200, body + "}\n"};
}

}  // namespace wsp
