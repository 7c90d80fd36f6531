// One HTTP/1.1 client connection: each request goes to the plugin that owns its path.
#pragma once

#include <stdint.h>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/webserver/app_login.h"
#include "platform/webserver/plugin_link.h"
#include "platform/webserver/response_meta.h"

namespace wsp {

// Stream is boost::beast::tcp_stream or boost::beast::ssl_stream of it.
template <class Stream>
class HttpSession : public IPluginChannel, public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream stream, ServerContext& context, uint32_t connectionFlags);
    void Start();

    void OnPluginMessage(const FrameHeader& header, std::string& body) override;
    void OnPluginGone() override;

private:
    enum class State { kReading, kForwarded, kAnswered, kClosed };
    enum class BodyMode { kNone, kLength, kChunked, kRaw };
    struct Write {
        std::string data;
        bool ack;  // answer a WSM_SEND once written
    };

    void ReadRequest();
    void OnHeader(boost::system::error_code ec);
    void Forward(const Router::Route& route, uint16_t type, const std::string& target);
    void StartBodyRead(uint32_t want);
    void ServeLogin(const std::string& target);
    void Answer(const AppLogin::Answer& answer);
    void OnCancel(uint32_t code);
    void QueueHeader();
    void StartRaw();
    void QueueBody(std::string& data);
    void Reply(unsigned status, const std::string& text, const char* location = nullptr, const char* type = nullptr,
               const std::vector<std::pair<std::string, std::string>>& fields = {});
    void Queue(std::string data, bool ack);
    void WriteNext();
    void CheckDone();
    void Finish();
    void ReleasePlugin();
    void Abort(const char* why);
    void Shutdown();
    void Linger();

    Stream stream_;
    ServerContext& context_;
    uint32_t connectionFlags_;
    State state_ = State::kReading;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::buffer_body>> parser_;

    // The request being served.
    std::shared_ptr<PluginLink> link_;
    uint32_t id_ = 0;
    bool head_ = false, options_ = false, passthrough_ = false, keepAlive_ = false, expectContinue_ = false;
    bool recvPending_ = false, handlerClosed_ = false, headerQueued_ = false, broken_ = false;
    std::string recvBuffer_;
    ResponsePlan plan_;
    BodyMode mode_ = BodyMode::kNone;
    uint64_t remaining_ = 0;

    std::deque<Write> writes_;
    bool writing_ = false;
};

}  // namespace wsp
