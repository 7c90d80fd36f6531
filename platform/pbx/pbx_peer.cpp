#include "platform/pbx/pbx_peer.h"

#include <chrono>
#include <memory>

#include "platform/webserver/app_login.h"
#include "platform/webserver/login_text.h"

namespace pbx {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

PbxPeer::PbxPeer(PeerConfig config) : config(std::move(config)), resolver(io), ws(io) {}

PbxPeer::~PbxPeer()
{
    // Handlers still pending are dropped with the loop, never run.
    state = CLOSED;
    beast::error_code ignored;
    beast::get_lowest_layer(ws).socket().close(ignored);
}

template <class Done> bool PbxPeer::RunUntil(Done done, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        auto now = std::chrono::steady_clock::now();
        if (state == CLOSED || now >= end) return done();
        io.restart();
        io.run_one_for(end - now);
    }
    return true;
}

bool PbxPeer::Connect(int timeoutMs)
{
    if (state != IDLE) return false;
    state = CONNECTING;
    resolver.async_resolve(config.host, config.port, [this](beast::error_code ec, tcp::resolver::results_type at) {
        if (ec) return Fail("resolve " + config.host + ": " + ec.message());
        beast::get_lowest_layer(ws).async_connect(at, [this](beast::error_code ec, const tcp::endpoint&) {
            if (ec) return Fail("connect: " + ec.message());
            beast::get_lowest_layer(ws).socket().set_option(tcp::no_delay(true));
            ws.async_handshake(config.host, config.path, [this](beast::error_code ec) {
                if (ec) return Fail("websocket " + config.path + ": " + ec.message());
                ws.text(true);
                state = CHALLENGE;
                Send("{\"mt\":\"AppChallenge\"}");
                Read();
            });
        });
    });
    if (RunUntil([this] { return state == READY; }, timeoutMs)) return true;
    if (state != CLOSED) Fail("no registration within " + std::to_string(timeoutMs) + " ms");
    return false;
}

std::string PbxPeer::LoginMessage(const std::string& challenge) const
{
    std::string guid = wsp::AppLogin::Sha256Hex("guid:" + config.sip).substr(0, 32);
    std::string digest = wsp::AppLogin::Sha256Hex(config.app + ":" + config.domain + ":" + config.sip + ":" + guid +
                                                  ":" + config.dn + ":" + challenge + ":" + config.password);
    return "{\"mt\":\"AppLogin\",\"app\":" + wsp::JsonString(config.app) + ",\"domain\":" +
           wsp::JsonString(config.domain) + ",\"sip\":" + wsp::JsonString(config.sip) + ",\"guid\":\"" + guid +
           "\",\"dn\":" + wsp::JsonString(config.dn) + ",\"digest\":\"" + digest + "\"}";
}

void PbxPeer::Read()
{
    buffer.clear();
    ws.async_read(buffer, [this](beast::error_code ec, size_t) {
        if (state == CLOSED) return;
        if (ec) return Fail(ec == beast::websocket::error::closed ? "closed by the instance" : "read: " + ec.message());
        Handle(beast::buffers_to_string(buffer.data()));
        if (state != CLOSED) Read();
    });
}

void PbxPeer::Handle(const std::string& text)
{
    PbxMessage m;
    bool parsed = m.Parse(text);
    switch (state) {
    case CHALLENGE:
        if (m.mt != "AppChallengeResult" || m.members["challenge"].empty()) return Fail("no challenge: " + text);
        state = LOGIN;
        Send(LoginMessage(m.members["challenge"]));
        return;
    case LOGIN:
        if (m.mt != "AppLoginResult" || m.members["ok"] != "true") return Fail("login refused: " + text);
        state = REGISTER;
        Send("{\"mt\":\"PbxInfo\"}");
        return;
    case REGISTER:
        if (m.mt != "Register" || m.api != "PbxSignal") return Fail("no registration: " + text);
        state = READY;
        Send("{\"mt\":\"RegisterResult\",\"api\":\"PbxSignal\"}");
        return;
    case READY:
        if (!parsed) return;
        if (autoAnswer && m.IsSignaling() && m.type == "setup" && m.call >= 1) Signal(m.call, TypeSig("conn"));
        if (onMessage) onMessage(m);
        else received.push_back(std::move(m));
        return;
    default: return;
    }
}

void PbxPeer::Send(const std::string& json)
{
    if (state == CLOSED) return;
    out.push_back(json);
    if (!writing) WriteFront();
}

void PbxPeer::WriteFront()
{
    writing = true;
    ws.async_write(asio::buffer(out.front()), [this](beast::error_code ec, size_t) {
        writing = false;
        if (state == CLOSED) return;
        if (ec) return Fail("write: " + ec.message());
        out.pop_front();
        if (!out.empty()) WriteFront();
    });
}

long long PbxPeer::Present(const Setup& setup)
{
    long long call = --lastCall;
    Signal(call, SetupSig(setup));
    return call;
}

bool PbxPeer::Next(PbxMessage& m, int timeoutMs)
{
    if (!RunUntil([this] { return !received.empty(); }, timeoutMs)) return false;
    m = std::move(received.front());
    received.pop_front();
    return true;
}

bool PbxPeer::Flush(int timeoutMs)
{
    return RunUntil([this] { return out.empty(); }, timeoutMs);
}

void PbxPeer::Close(int timeoutMs)
{
    if (state == CLOSED || state == IDLE) return;
    Flush(timeoutMs);
    auto closed = std::make_shared<bool>(false);
    ws.async_close(beast::websocket::close_code::normal, [closed](beast::error_code) { *closed = true; });
    RunUntil([closed] { return *closed; }, timeoutMs);
    Drop();
}

void PbxPeer::Drop()
{
    Fail("dropped");
}

void PbxPeer::Fail(const std::string& why)
{
    if (state == CLOSED) return;
    bool wasReady = state == READY;
    state = CLOSED;
    error = why;
    beast::error_code ignored;
    beast::get_lowest_layer(ws).socket().close(ignored);
    if (wasReady && onClosed) onClosed(why);
}

}  // namespace pbx
