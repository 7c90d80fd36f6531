// An app client of the Messages instance over WsClient: JSON messages out,
// replies decoded with the project's own json_io, and the app login with the
// SHA-256 digest computed here, independently of the service's code.
#pragma once

#include <string.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json/json_io.h"
#include "tests/e2e/e2e_harness.h"

namespace e2e {

// A JSON string literal, escaped the way the service's writer escapes, so
// that a compact text written here is the text the service hashes.
inline std::string Quote(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += char(c);
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == '\b') out += "\\b";
        else if (c == '\f') out += "\\f";
        else if (c < 0x20) {
            char e[8];
            snprintf(e, sizeof(e), "\\u%04x", c);
            out += e;
        }
        else out += char(c);
    }
    return out + "\"";
}

// One message from the service, decoded in place; members of the top-level
// object unless another object's index is given.
class JsonMessage {
public:
    JsonMessage() = default;
    JsonMessage(JsonMessage&&) = default;
    JsonMessage& operator=(JsonMessage&&) = default;

    bool Parse(const std::string& message)
    {
        text = message;
        buffer.assign(message.begin(), message.end());
        buffer.push_back(0);
        doc = std::make_unique<json_io>(buffer.data());
        ok = doc->decode() && doc->items_used() > 0 && doc->get_item(0)->type == json_io::OBJECT;
        return ok;
    }
    std::string Mt() const { return String("mt"); }
    bool Has(const char* name, unsigned short base = 0) const
    {
        if (!ok) return false;
        unsigned short last = 0;
        unsigned char type, flags;
        const char *n, *v;
        for (unsigned short id; (id = doc->get_next(base, last, type, flags, n, v)) != json_io::NONE;)
            if (n && !strcmp(n, name)) return true;
        return false;
    }
    // "" when missing.
    std::string String(const char* name, unsigned short base = 0) const
    {
        const char* s = ok ? doc->get_string(base, name) : nullptr;
        return s ? s : "";
    }
    bool IsString(const char* name, unsigned short base = 0) const { return ok && doc->get_string(base, name); }
    unsigned long long Number(const char* name, unsigned short base = 0, bool* present = nullptr) const
    {
        bool here = false;
        unsigned long long v = ok ? doc->get_ulong64(base, name, &here) : 0;
        if (present) *present = here;
        return v;
    }
    // True only for the literal true.
    bool True(const char* name, unsigned short base = 0) const
    {
        bool present = false;
        bool v = ok && doc->get_bool(base, name, &present);
        return present && v;
    }
    unsigned short Object(const char* name, unsigned short base = 0) const
    {
        return ok ? doc->get_object(base, name) : json_io::NONE;
    }
    // The number of direct members of an object or elements of an array.
    unsigned Members(unsigned short container) const
    {
        if (!ok || container == json_io::NONE) return 0;
        unsigned n = 0;
        unsigned short last = 0;
        unsigned char type, flags;
        const char *name, *value;
        while (doc->get_next(container, last, type, flags, name, value) != json_io::NONE) n++;
        return n;
    }

    std::string text;
    bool ok = false;
    std::unique_ptr<json_io> doc;

private:
    std::vector<char> buffer;
};

// An entry of the login's "apps" array; without a name the member is left out.
struct LoginApp {
    std::optional<std::string> name;
    std::optional<std::string> dn;
};

// What an "AppLogin" carries. The claims (apps, appobj, appdn, groups) go into
// the "info" object, which the digest covers; `extraInfo` adds members (compact
// JSON, without braces) before them; `sentInfo` replaces the text of "info" on
// the wire while the digest keeps the compact form.
struct LoginRequest {
    std::string app = "solvantique-messages";
    std::optional<std::string> domain;  // the client's domain when not given
    std::optional<std::string> sip;
    std::optional<std::string> guid = std::string("0123456789abcdef0123456789abcdef");
    std::optional<std::string> dn;
    std::optional<std::string> password;  // the client's app password when not given
    std::vector<LoginApp> apps;
    bool appsGiven = false;
    std::optional<std::string> appobj, appdn;
    std::vector<std::string> groups;
    bool groupsGiven = false;
    std::string extraInfo;
    bool emptyInfo = false;  // send "info":{} even without members
    std::string sentInfo;
    bool leaveInfoOutOfDigest = false;

    // The compact text of "info", or nothing when the login has none.
    std::optional<std::string> InfoText() const
    {
        std::vector<std::string> members;
        if (!extraInfo.empty()) members.push_back(extraInfo);
        if (appsGiven || !apps.empty()) {
            std::string a = "\"apps\":[";
            for (size_t i = 0; i < apps.size(); i++) {
                std::string o = "{";
                if (apps[i].name) o += "\"name\":" + Quote(*apps[i].name);
                if (apps[i].dn) o += std::string(apps[i].name ? "," : "") + "\"dn\":" + Quote(*apps[i].dn);
                a += (i ? "," : "") + o + "}";
            }
            members.push_back(a + "]");
        }
        if (appobj) members.push_back("\"appobj\":" + Quote(*appobj));
        if (appdn) members.push_back("\"appdn\":" + Quote(*appdn));
        if (groupsGiven || !groups.empty()) {
            std::string g = "\"groups\":[";
            for (size_t i = 0; i < groups.size(); i++) g += (i ? "," : "") + Quote(groups[i]);
            members.push_back(g + "]");
        }
        if (members.empty() && !emptyInfo) return std::nullopt;
        std::string info = "{";
        for (size_t i = 0; i < members.size(); i++) info += (i ? "," : "") + members[i];
        return info + "}";
    }
};

// A login as `sip` with the display name `dn` and the topics of `apps`.
inline LoginRequest UserLogin(const std::string& sip, const std::string& dn, std::vector<LoginApp> apps = {})
{
    LoginRequest r;
    r.sip = sip;
    r.dn = dn;
    r.apps = std::move(apps);
    return r;
}

class AppClient {
public:
    AppClient(int port, const std::string& password, const std::string& domain, const std::string& path = "/messages")
        : port(port), password(password), domain(domain), path(path)
    {
    }

    bool Connect(int timeoutMs = 10000) { return ws.Connect(port, path, timeoutMs); }

    // One text message, in frames of at most `frameSize` bytes.
    bool Send(const std::string& json, size_t frameSize = 1 << 20) { return ws.Write(json, true, frameSize); }

    // The next message; false when the connection ended or stayed silent
    // (the reason in ws.error) or when the text is no JSON object.
    bool Receive(JsonMessage& message, int timeoutMs = 10000)
    {
        std::string text;
        bool isText = false;
        if (!ws.Read(text, &isText, timeoutMs)) return false;
        if (!message.Parse(text)) {
            ADD_FAILURE() << "not a JSON object: " << text;
            return false;
        }
        return true;
    }
    // The next message's text, or a description of why there was none.
    std::string Next(int timeoutMs = 10000)
    {
        JsonMessage m;
        if (!Receive(m, timeoutMs)) return "<" + ws.error.message() + ">";
        return m.text;
    }
    // Nothing more arrives and the service closes the websocket.
    bool ClosedByService(std::string* got = nullptr, int timeoutMs = 10000)
    {
        std::string text;
        if (ws.Read(text, nullptr, timeoutMs)) {
            if (got) *got = text;
            return false;
        }
        return ws.error == boost::beast::websocket::error::closed;
    }
    // Nothing arrives within the time; the client closes the connection
    // then (WsClient cannot abandon a read otherwise), so it is a last check.
    bool Silent(int timeoutMs, std::string* got = nullptr)
    {
        std::string text;
        if (ws.Read(text, nullptr, timeoutMs)) {
            if (got) *got = text;
            return false;
        }
        if (got) *got = "<" + ws.error.message() + ">";
        return ws.error == boost::asio::error::timed_out;
    }
    // Closes the TCP connection without a websocket close.
    void Drop() { boost::beast::get_lowest_layer(ws.ws).close(); }

    // "AppChallenge"; the challenge, or "" when none came.
    std::string Challenge()
    {
        challenge.clear();
        JsonMessage m;
        if (!Send("{\"mt\":\"AppChallenge\"}") || !Receive(m)) return "";
        if (m.Mt() == "AppChallengeResult") challenge = m.String("challenge");
        lastChallengeResult = std::move(m);
        return challenge;
    }

    std::string Digest(const LoginRequest& r, const std::string& withChallenge) const
    {
        std::string text = r.app + ":" + r.domain.value_or(domain) + ":" + r.sip.value_or("") + ":" +
                           r.guid.value_or("") + ":" + r.dn.value_or("") + ":";
        std::optional<std::string> info = r.InfoText();
        if (info && !r.leaveInfoOutOfDigest) text += *info + ":";
        return Sha256Hex(text + withChallenge + ":" + r.password.value_or(password));
    }

    // The "AppLogin" for `withChallenge` as it goes on the wire.
    std::string LoginText(const LoginRequest& r, const std::string& withChallenge) const
    {
        std::string m =
            "{\"mt\":\"AppLogin\",\"app\":" + Quote(r.app) + ",\"domain\":" + Quote(r.domain.value_or(domain));
        if (r.sip) m += ",\"sip\":" + Quote(*r.sip);
        if (r.guid) m += ",\"guid\":" + Quote(*r.guid);
        if (r.dn) m += ",\"dn\":" + Quote(*r.dn);
        m += ",\"digest\":" + Quote(Digest(r, withChallenge));
        std::optional<std::string> info = r.InfoText();
        if (!r.sentInfo.empty()) m += ",\"info\":" + r.sentInfo;
        else if (info) m += ",\"info\":" + *info;
        return m + "}";
    }

    // Sends the login for the last challenge and reads its result.
    bool SendLogin(const LoginRequest& r, JsonMessage& result)
    {
        return Send(LoginText(r, challenge)) && Receive(result);
    }

    // Challenge and login; true when "AppLoginResult" says "ok".
    bool Login(const LoginRequest& r, JsonMessage* resultOut = nullptr)
    {
        JsonMessage result;
        bool ok = !Challenge().empty() && SendLogin(r, result) && result.Mt() == "AppLoginResult" &&
                  result.True("ok");
        if (!ok) ADD_FAILURE() << "login of " << r.sip.value_or("?") << " failed: " << result.text << " "
                               << ws.error.message();
        if (resultOut) *resultOut = std::move(result);
        return ok;
    }
    // Connect, then log in as `sip`.
    bool ConnectAndLogin(LoginRequest r)
    {
        if (!Connect()) {
            ADD_FAILURE() << "no websocket: " << ws.error.message() << " status " << ws.status;
            return false;
        }
        return Login(r);
    }

    // Sends a request and collects what comes up to and including the
    // message whose "mt" is `last`; false (with what came) when something else ends it.
    bool Exchange(const std::string& request, const std::string& last, std::vector<JsonMessage>& got,
                  int timeoutMs = 10000)
    {
        got.clear();
        if (!Send(request)) return false;
        return Collect(last, got, timeoutMs);
    }
    bool Collect(const std::string& last, std::vector<JsonMessage>& got, int timeoutMs = 10000)
    {
        for (;;) {
            JsonMessage m;
            if (!Receive(m, timeoutMs)) return false;
            bool end = m.Mt() == last;
            got.push_back(std::move(m));
            if (end) return true;
        }
    }

    int port;
    std::string password, domain, path;
    WsClient ws;
    std::string challenge;
    JsonMessage lastChallengeResult;
};

// The texts of messages, one a line, for failure output.
inline std::string Texts(const std::vector<JsonMessage>& messages)
{
    std::string all;
    for (auto& m : messages) all += "  " + m.text + "\n";
    return all;
}

}  // namespace e2e
