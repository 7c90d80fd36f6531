// The PBX side of a "PbxSignal" link: an app websocket client that logs in to
// the instance through the webserver with the app password, sends "PbxInfo",
// answers "Register", and then presents calls and exchanges signaling.
//
// Everything runs on the peer's own io_context. The blocking calls (Connect,
// Next, Flush, Close) run it until they are done or their time is up; a
// program that runs the loop itself (platform-pbx) takes messages through
// onMessage instead of Next.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <functional>
#include <string>

#include "platform/pbx/pbx_message.h"

namespace pbx {

struct PeerConfig {
    std::string host = "127.0.0.1";
    std::string port = "8080";
    std::string path = "/messages";
    std::string domain;    // the instance's app domain
    std::string password;  // the instance's app password
    std::string sip = "pbx", dn = "PBX";
    std::string app = "messages";
};

class PbxPeer {
public:
    explicit PbxPeer(PeerConfig config);
    ~PbxPeer();
    PbxPeer(const PbxPeer&) = delete;
    PbxPeer& operator=(const PbxPeer&) = delete;

    // Connects, logs in, sends "PbxInfo" and answers "Register"; false with
    // `error` when any of it fails or the time is up.
    bool Connect(int timeoutMs = 10000);
    bool Ready() const { return state == READY; }

    // Queued; written in order while the loop runs.
    void Send(const std::string& json);
    void Signal(long long call, const std::string& sig) { Send(SignalingMessage(call, sig)); }
    // Presents a call under the next identifier of our own (-1, -2, ...) and returns it.
    long long Present(const Setup& setup);

    // The next message from the instance (signaling or not), in order; false
    // when the time is up or the connection ended first.
    bool Next(PbxMessage& out, int timeoutMs = 10000);
    // Runs the loop until everything queued is written.
    bool Flush(int timeoutMs = 10000);
    // A websocket close; Drop ends the TCP connection without one.
    void Close(int timeoutMs = 10000);
    void Drop();

    // Setups that the instance presents (its identifiers are 1 or more) get "conn" at once.
    bool autoAnswer = false;
    // When set, messages go here instead of to Next.
    std::function<void(const PbxMessage&)> onMessage;
    // Told once when the connection ends after Connect succeeded.
    std::function<void(const std::string& why)> onClosed;

    boost::asio::io_context io;
    std::string error;

private:
    enum State { IDLE, CONNECTING, CHALLENGE, LOGIN, REGISTER, READY, CLOSED };

    template <class Done> bool RunUntil(Done done, int timeoutMs);
    void Read();
    void Handle(const std::string& text);
    void WriteFront();
    void Fail(const std::string& why);
    std::string LoginMessage(const std::string& challenge) const;

    PeerConfig config;
    State state = IDLE;
    boost::asio::ip::tcp::resolver resolver;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws;
    boost::beast::flat_buffer buffer;
    std::deque<std::string> out;
    bool writing = false;
    std::deque<PbxMessage> received;
    long long lastCall = 0;
};

}  // namespace pbx
