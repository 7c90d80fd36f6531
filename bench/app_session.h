// The client side of an app websocket login, shared by the whole-process
// drivers: the digest and "AppLogin" message the service expects, and a
// session that logs in and then keeps reading, handing every JSON message to
// its owner. Single-threaded: everything runs on the caller's io_context.
#pragma once

#include <openssl/sha.h>
#include <rapidjson/document.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bench {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// A bare --name after the mode argument.
inline bool Flag(int argc, char** argv, const char* name)
{
    for (int i = 2; i < argc; i++)
        if (!strncmp(argv[i], "--", 2) && !strcmp(argv[i] + 2, name)) return true;
    return false;
}

inline double Percentile(std::vector<double>& v, double p)
{
    if (v.empty()) return 0;
    size_t i = (size_t)(p * (v.size() - 1));
    std::nth_element(v.begin(), v.begin() + i, v.end());
    return v[i];
}

inline std::string Sha256Hex(const std::string& text)
{
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), md);
    char hex[2 * SHA256_DIGEST_LENGTH + 1];
    for (unsigned i = 0; i < SHA256_DIGEST_LENGTH; i++) snprintf(hex + 2 * i, 3, "%02x", md[i]);
    return hex;
}

const char kAppChallenge[] = "{\"mt\":\"AppChallenge\"}";

// Who logs in, and where. `info` is compact JSON: the digest covers the text
// the service re-encodes.
struct LoginData {
    std::string domain;
    std::string password;
    std::string sip;
    std::string guid;
    std::string dn;
    std::string info;
};

// "AppLogin" answering `challenge`, with its SHA-256 digest.
inline std::string AppLoginMessage(const LoginData& d, const std::string& challenge)
{
    std::string digest = Sha256Hex("messages:" + d.domain + ":" + d.sip + ":" + d.guid + ":" + d.dn + ":" + d.info +
                                   ":" + challenge + ":" + d.password);
    return "{\"mt\":\"AppLogin\",\"app\":\"messages\",\"domain\":\"" + d.domain + "\",\"sip\":\"" + d.sip +
           "\",\"guid\":\"" + d.guid + "\",\"dn\":\"" + d.dn + "\",\"digest\":\"" + digest + "\",\"info\":" + d.info +
           "}";
}

// A guid of 32 hex digits made from a number, the same for the same number.
inline std::string GuidOf(unsigned long long n)
{
    char guid[33];
    snprintf(guid, sizeof(guid), "%016llx%016llx", n * 0x9e3779b97f4a7c15ULL, n);
    return guid;
}

// The "mt" of a message, or "" when it has none.
inline const char* Mt(const rapidjson::Document& doc)
{
    if (!doc.IsObject()) return "";
    auto mt = doc.FindMember("mt");
    return mt != doc.MemberEnd() && mt->value.IsString() ? mt->value.GetString() : "";
}

// One app websocket: connect, "AppChallenge", "AppLogin", then LoggedIn and
// a read that never ends until Close or a failure. Sends are queued, so the
// owner may send at any time after LoggedIn. The callbacks may send, close,
// and drop the owner's reference (the pending handlers keep the session alive).
class AppSession : public std::enable_shared_from_this<AppSession> {
public:
    struct Owner {
        virtual ~Owner() {}
        virtual void LoggedIn(AppSession&) = 0;
        virtual void Received(AppSession&, const rapidjson::Document& message) = 0;
        // Reported once; nothing more comes from the session.
        virtual void Failed(AppSession&, const std::string& why) = 0;
    };

    AppSession(asio::io_context& io, const tcp::endpoint& at, const std::string& path, LoginData login, Owner& owner,
               unsigned index = 0)
        : index(index), ws(io), at(at), path(path), login(std::move(login)), owner(owner)
    {
    }

    void Start()
    {
        auto self = shared_from_this();
        beast::get_lowest_layer(ws).async_connect(at, [self](beast::error_code ec) {
            if (ec) return self->Fail("connect: " + ec.message());
            beast::get_lowest_layer(self->ws).socket().set_option(tcp::no_delay(true));
            self->ws.async_handshake("127.0.0.1", self->path, [self](beast::error_code ec) {
                if (ec) return self->Fail("handshake: " + ec.message());
                self->ws.text(true);
                self->stage = CHALLENGE;
                self->Send(kAppChallenge);
                self->Read();
            });
        });
    }

    void Send(std::string text)
    {
        if (stage == FAILED || stage == CLOSED) return;
        out.push_back(std::move(text));
        if (out.size() == 1) WriteFront();
    }

    void Close()
    {
        if (stage == FAILED || stage == CLOSED) return;
        stage = CLOSED;
        beast::error_code ignored;
        beast::get_lowest_layer(ws).socket().close(ignored);
    }

    const std::string& Sip() const { return login.sip; }

    const unsigned index;

private:
    enum Stage { CONNECT, CHALLENGE, LOGIN, LOGGED_IN, CLOSED, FAILED };

    void WriteFront()
    {
        auto self = shared_from_this();
        ws.async_write(asio::buffer(out.front()), [self](beast::error_code ec, size_t) {
            if (ec) return self->Fail("write: " + ec.message());
            self->out.pop_front();
            if (!self->out.empty()) self->WriteFront();
        });
    }

    void Read()
    {
        buffer.clear();
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (self->stage == CLOSED) return;
            if (ec) return self->Fail("read: " + ec.message());
            std::string text = beast::buffers_to_string(self->buffer.data());
            // Every message's document in one reused pool: a document of its
            // own takes 64 KB from the heap and gives it back, for each of
            // tens of thousands of messages a second.
            thread_local char pool[1 << 16];
            rapidjson::MemoryPoolAllocator<> allocator(pool, sizeof(pool));
            rapidjson::Document doc(&allocator);
            doc.Parse(text.c_str());
            if (doc.HasParseError() || !doc.IsObject()) return self->Fail("not a JSON object: " + text);
            self->Handle(doc, text);
            if (self->stage != CLOSED && self->stage != FAILED) self->Read();
        });
    }

    void Handle(const rapidjson::Document& doc, const std::string& text)
    {
        const char* mt = Mt(doc);
        switch (stage) {
        case CHALLENGE:
            if (strcmp(mt, "AppChallengeResult") || !doc.HasMember("challenge") || !doc["challenge"].IsString())
                return Fail("no challenge: " + text);
            stage = LOGIN;
            Send(AppLoginMessage(login, doc["challenge"].GetString()));
            return;
        case LOGIN:
            if (strcmp(mt, "AppLoginResult") || !doc.HasMember("ok") || !doc["ok"].IsBool() || !doc["ok"].GetBool())
                return Fail("login refused: " + text);
            stage = LOGGED_IN;
            owner.LoggedIn(*this);
            return;
        case LOGGED_IN: owner.Received(*this, doc); return;
        default: return;
        }
    }

    void Fail(const std::string& why)
    {
        if (stage == FAILED || stage == CLOSED) return;
        stage = FAILED;
        beast::error_code ignored;
        beast::get_lowest_layer(ws).socket().close(ignored);
        owner.Failed(*this, why);
    }

    Stage stage = CONNECT;
    websocket::stream<beast::tcp_stream> ws;
    tcp::endpoint at;
    std::string path;
    LoginData login;
    Owner& owner;
    std::deque<std::string> out;
    beast::flat_buffer buffer;
};

}  // namespace bench
