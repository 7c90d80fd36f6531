#include "platform/webserver/http_session.h"

#include <string.h>

#include <boost/asio/write.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <sstream>
#include <type_traits>

#include "platform/webserver/plugin_protocol.h"
#include "platform/webserver/request_header.h"
#include "platform/webserver/websocket_session.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace wsp {

namespace {

constexpr auto kIdleTimeout = std::chrono::seconds(120);
constexpr auto kLingerTimeout = std::chrono::seconds(2);

uint16_t RequestMessage(http::verb method)
{
    switch (method) {
    case http::verb::get:
    case http::verb::head: return WSM_GET_REQUEST;
    case http::verb::post: return WSM_POST_REQUEST;
    case http::verb::put: return WSM_PUT_REQUEST;
    case http::verb::propfind: return WSM_PROPFIND_REQUEST;
    case http::verb::move: return WSM_MOVE_REQUEST;
    case http::verb::copy: return WSM_COPY_REQUEST;
    case http::verb::mkcol: return WSM_MKCOL_REQUEST;
    case http::verb::delete_: return WSM_DELETE_REQUEST;
    case http::verb::options: return WSM_OPTIONS_REQUEST;
    case http::verb::lock: return WSM_LOCK_REQUEST;
    case http::verb::unlock: return WSM_UNLOCK_REQUEST;
    case http::verb::proppatch: return WSM_PROPPATCH_REQUEST;
    default: return WSM_NONE;
    }
}

// Proxies may send the absolute form; routing only looks at the path.
std::string OriginForm(std::string target)
{
    size_t scheme = target.find("://");
    if (scheme != std::string::npos && target[0] != '/') {
        size_t slash = target.find('/', scheme + 3);
        target = slash == std::string::npos ? "/" : target.substr(slash);
    }
    return target;
}

}  // namespace

template <class Stream>
HttpSession<Stream>::HttpSession(Stream stream, ServerContext& context, uint32_t connectionFlags)
    : stream_(std::move(stream)), context_(context), connectionFlags_(connectionFlags)
{
}

template <class Stream>
void HttpSession<Stream>::Start()
{
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
        ReadRequest();
    }
    else {
        beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(30));
        stream_.async_handshake(asio::ssl::stream_base::server, [self = this->shared_from_this()](boost::system::error_code ec) {
            if (ec) {
                self->state_ = State::kClosed;
                beast::get_lowest_layer(self->stream_).close();
                return;
            }
            self->ReadRequest();
        });
    }
}

template <class Stream>
void HttpSession<Stream>::ReadRequest()
{
    state_ = State::kReading;
    head_ = options_ = passthrough_ = keepAlive_ = expectContinue_ = false;
    recvPending_ = handlerClosed_ = headerQueued_ = broken_ = false;
    plan_ = ResponsePlan();
    mode_ = BodyMode::kNone;
    remaining_ = 0;
    parser_.emplace();
    // Bodies stream to the plugin block by block, so their size is not ours to limit.
    parser_->body_limit(boost::none);
    parser_->header_limit(32 * 1024);
    beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = this->shared_from_this()](boost::system::error_code ec, size_t) { self->OnHeader(ec); });
}

template <class Stream>
void HttpSession<Stream>::OnHeader(boost::system::error_code ec)
{
    if (state_ == State::kClosed) return;
    if (ec == http::error::end_of_stream || ec == asio::error::eof || ec == beast::error::timeout ||
        ec == asio::error::connection_reset || ec == asio::error::operation_aborted)
        return Abort(nullptr);
    if (ec == http::error::header_limit) return Reply(431, "Request header fields too large\n");
    if (ec) return Reply(400, "Bad request\n");

    auto& req = parser_->get();
    keepAlive_ = req.keep_alive();
    std::string target = OriginForm(std::string(req.target()));
    std::string path = target.substr(0, target.find('?'));
    if (path.empty() || path[0] != '/') return Reply(400, "Bad request target\n");

    head_ = req.method() == http::verb::head;
    if (context_.login && (path == AppLogin::kPath || path == AppLogin::kLogoutPath)) return ServeLogin(target);
    if (beast::websocket::is_upgrade(req)) {
        const Router::Route* route = context_.router.Match(PATH_WEBSOCKET, path);
        if (!route) return Reply(404, "No websocket here\n");
        auto link = context_.links.at(route->owner);
        auto ws = std::make_shared<WebsocketSession<Stream>>(std::move(stream_), link);
        state_ = State::kClosed;
        ws->Start(req, *route, connectionFlags_);
        return;
    }

    const Router::Route* route = context_.router.Match(PATH_HTTP, path);
    const Router::Route* pass = context_.router.Match(PATH_PASSTHROUGH, path);
    uint16_t type = RequestMessage(req.method());
    if (pass && (!route || pass->prefix.size() > route->prefix.size())) {
        route = pass;
        type = WSM_PASSTHROUGH_REQUEST;
    }
    if (!route && path == "/" && context_.login && !context_.login->SingleAppPath().empty() &&
        (req.method() == http::verb::get || head_))
        return Reply(302, "Moved\n", (context_.login->SingleAppPath() + "/").c_str());
    if (!route) return Reply(404, "Not found\n");
    if (type == WSM_NONE) return Reply(501, "Method not implemented\n");
    options_ = req.method() == http::verb::options;
    passthrough_ = type == WSM_PASSTHROUGH_REQUEST;
    // The plugin resolves relative links against its registered path as a directory.
    if (path == route->prefix && route->prefix != "/" && type == WSM_GET_REQUEST) {
        std::string query = target.substr(path.size());
        return Reply(302, "Moved\n", (path + "/" + query).c_str());
    }
    Forward(*route, type, target);
}

template <class Stream>
void HttpSession<Stream>::Forward(const Router::Route& route, uint16_t type, const std::string& target)
{
    auto& req = parser_->get();
    RequestInfo info;
    info.resource = Router::Resource(route, target);
    info.registered = route.registered;
    for (auto& f : req) info.fields.emplace_back(std::string(f.name_string()), std::string(f.value()));
    info.host = std::string(req[http::field::host]);
    info.connectionFlags = connectionFlags_;
    info.chunked = parser_->chunked();
    if (auto length = parser_->content_length()) info.hasSize = true, info.size = *length;
    std::string body;
    if (!EncodeRequestHeader(info, body)) return Reply(431, "Request header fields too large\n");
    expectContinue_ = beast::iequals(req[http::field::expect], "100-continue");

    link_ = context_.links.at(route.owner);
    id_ = link_->Open(this->shared_from_this());
    if (!id_) {
        link_.reset();
        return Reply(503, "Service unavailable\n");
    }
    state_ = State::kForwarded;
    beast::get_lowest_layer(stream_).expires_never();
    link_->Send(id_, type, 0, body);
}

template <class Stream>
void HttpSession<Stream>::OnPluginMessage(const FrameHeader& header, std::string& body)
{
    if (state_ != State::kForwarded) return;
    switch (header.type) {
    case WSM_RECV:
        if (recvPending_) return link_->Fail("receive requested while one is pending");
        StartBodyRead(header.general);
        break;
    case WSM_SEND_META_DATA: {
        // An empty extended header is an empty body too: only a non-zero code makes it a cancel.
        if (body.empty() && header.general) return OnCancel(header.general);
        if (headerQueued_) {
            Log("connection %u: meta data after the response header ignored", id_);
            break;
        }
        ExtendedHeader meta;
        std::string error = meta.Decode(body);
        if (error.empty()) error = PlanResponse(meta, header.general, options_, plan_);
        if (!error.empty()) return link_->Fail("meta data of connection " + std::to_string(id_) + ": " + error);
        if (plan_.final) {
            QueueHeader();
            ReleasePlugin();
            state_ = State::kAnswered;
            CheckDone();
        }
        break;
    }
    case WSM_SEND:
        if (handlerClosed_) return link_->Fail("data sent after the handler closed");
        if (passthrough_ && !headerQueued_) StartRaw();
        if (!headerQueued_) QueueHeader();
        QueueBody(body);
        break;
    case WSM_MESSAGE_HANDLER_CLOSED:
        if (handlerClosed_) break;
        handlerClosed_ = true;
        if (passthrough_ && !headerQueued_) StartRaw();
        if (!headerQueued_) QueueHeader();
        if (mode_ == BodyMode::kChunked) Queue("0\r\n\r\n", false);
        CheckDone();
        break;
    default:
        Log("connection %u: websocket message on an HTTP request ignored", id_);
        break;
    }
}

template <class Stream>
void HttpSession<Stream>::OnPluginGone()
{
    link_.reset();
    if (state_ != State::kForwarded) return;
    if (headerQueued_) return Abort("plugin gone while answering");
    keepAlive_ = false;
    Reply(503, "Service unavailable\n");
}

template <class Stream>
void HttpSession<Stream>::StartBodyRead(uint32_t want)
{
    // Zero asks for whatever fits one frame.
    size_t size = want == 0 || want > kMaxDataSize ? kMaxDataSize : want;
    if (parser_->is_done()) return link_->Send(id_, WSM_RECV_RESULT, 0);
    if (expectContinue_ && !headerQueued_) Queue("HTTP/1.1 100 Continue\r\n\r\n", false);
    expectContinue_ = false;
    recvBuffer_.resize(size);
    parser_->get().body().data = &recvBuffer_[0];
    parser_->get().body().size = size;
    recvPending_ = true;
    beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
    http::async_read(stream_, buffer_, *parser_, [self = this->shared_from_this(), size](boost::system::error_code ec, size_t) {
        self->recvPending_ = false;
        if (self->state_ == State::kClosed) return;
        if (ec == http::error::need_buffer) ec = {};
        if (ec) return self->Abort("request body not received");
        if (self->state_ != State::kForwarded || !self->link_) return self->CheckDone();
        if (!self->writing_) beast::get_lowest_layer(self->stream_).expires_never();
        size_t got = size - self->parser_->get().body().size;
        self->link_->Send(self->id_, WSM_RECV_RESULT, 0, self->recvBuffer_.substr(0, got));
    });
}

template <class Stream>
void HttpSession<Stream>::ServeLogin(const std::string& target)
{
    auto& req = parser_->get();
    std::string cookies;
    for (auto& f : req)
        if (f.name() == http::field::cookie) cookies += (cookies.empty() ? "" : "; ") + std::string(f.value());
    bool logout = target.compare(0, strlen(AppLogin::kLogoutPath), AppLogin::kLogoutPath) == 0;
    if (!logout && (req.method() == http::verb::get || head_)) {
        size_t query = target.find('?');
        return Answer(context_.login->Mode(query == std::string::npos ? "" : target.substr(query + 1), cookies));
    }
    if (req.method() != http::verb::post) return Reply(405, "Use POST\n");
    // A login form is small; anything bigger is not one.
    constexpr size_t kLimit = 16384;
    recvBuffer_.assign(kLimit, '\0');
    req.body().data = &recvBuffer_[0];
    req.body().size = kLimit;
    recvPending_ = true;
    http::async_read(stream_, buffer_, *parser_,
                     [self = this->shared_from_this(), kLimit, logout, cookies](boost::system::error_code ec, size_t) {
                         self->recvPending_ = false;
                         if (self->state_ == State::kClosed) return;
                         if (ec == http::error::need_buffer) return self->Reply(413, "Too large\n");
                         if (ec) return self->Abort(nullptr);
                         auto& req = self->parser_->get();
                         if (logout) return self->Answer(self->context_.login->Logout(cookies));
                         self->Answer(self->context_.login->Login(self->recvBuffer_.substr(0, kLimit - req.body().size),
                                                                  std::string(req[http::field::host]), cookies));
                     });
}

template <class Stream>
void HttpSession<Stream>::Answer(const AppLogin::Answer& answer)
{
    std::vector<std::pair<std::string, std::string>> fields;
    if (!answer.setCookie.empty()) fields.emplace_back("Set-Cookie", answer.setCookie);
    Reply(answer.status, answer.body, nullptr, answer.status == 200 && answer.body[0] == '{' ? "application/json" : nullptr,
          fields);
}

template <class Stream>
void HttpSession<Stream>::OnCancel(uint32_t code)
{
    unsigned status = CancelStatus(code);
    ReleasePlugin();
    if (status == 0 || headerQueued_) return Abort(nullptr);
    static const char* const texts[] = {"Not found\n", "Bad request\n", "Service unavailable\n", "Length required\n",
                                        "",            "Forbidden\n",   "Internal server error\n"};
    Reply(status, code >= WSP_CANCEL_NOT_FOUND && code <= WSP_CANCEL_INTERNAL_ERROR ? texts[code - WSP_CANCEL_NOT_FOUND]
                                                                                    : texts[6]);
}

template <class Stream>
void HttpSession<Stream>::QueueHeader()
{
    http::response<http::empty_body> res{http::status(plan_.status), 11};
    res.set(http::field::server, "platform-webserver");
    for (auto& f : plan_.fields) res.insert(f.first, f.second);
    if (!plan_.bodyAllowed) {
        mode_ = BodyMode::kNone;
        if (plan_.status != 304) res.content_length(0);
    }
    else if (plan_.chunked || (!plan_.hasLength && !handlerClosed_)) {
        // Without a declared size the body length is only known at its end, and an
        // HTTP/1.0 client knows no chunks: the end of the connection frames it then.
        if (parser_->get().version() < 11) {
            mode_ = BodyMode::kRaw;
            keepAlive_ = false;
        }
        else {
            mode_ = BodyMode::kChunked;
            res.chunked(true);
        }
    }
    else {
        mode_ = BodyMode::kLength;
        remaining_ = plan_.hasLength ? plan_.length : 0;
        res.content_length(remaining_);
    }
    if (head_) mode_ = BodyMode::kNone;
    // A request body the plugin did not read to its end leaves the connection unusable.
    keepAlive_ = keepAlive_ && parser_->is_done();
    res.keep_alive(keepAlive_);
    std::ostringstream out;
    out << res.base();
    headerQueued_ = true;
    Queue(out.str(), false);
}

// A pass-through plugin writes the whole response itself; only the end of the
// connection can frame it.
template <class Stream>
void HttpSession<Stream>::StartRaw()
{
    headerQueued_ = true;
    mode_ = head_ ? BodyMode::kNone : BodyMode::kRaw;
    keepAlive_ = false;
}

template <class Stream>
void HttpSession<Stream>::QueueBody(std::string& data)
{
    if (mode_ == BodyMode::kNone || data.empty()) return link_->Send(id_, WSM_SEND_RESULT, 0);
    if (mode_ == BodyMode::kLength) {
        if (data.size() > remaining_) {
            Log("connection %u: plugin sent more than its declared length", id_);
            data.resize(remaining_);
            broken_ = true;
        }
        remaining_ -= data.size();
        if (data.empty()) return link_->Send(id_, WSM_SEND_RESULT, 0);
        return Queue(std::move(data), true);
    }
    if (mode_ == BodyMode::kRaw) return Queue(std::move(data), true);
    char size[24];
    snprintf(size, sizeof(size), "%zx\r\n", data.size());
    Queue(size + data + "\r\n", true);
}

template <class Stream>
void HttpSession<Stream>::Reply(unsigned status, const std::string& text, const char* location, const char* type,
                                const std::vector<std::pair<std::string, std::string>>& fields)
{
    http::response<http::string_body> res{http::status(status), 11};
    res.set(http::field::server, "platform-webserver");
    res.set(http::field::content_type, type ? type : "text/plain; charset=utf-8");
    // Answers of our own are never worth caching; a login answer must not be.
    res.set(http::field::cache_control, "no-store");
    if (location) res.set(http::field::location, location);
    for (auto& f : fields) res.insert(f.first, f.second);
    res.body() = head_ ? std::string() : text;
    res.prepare_payload();
    if (head_) res.content_length(text.size());
    bool bodyDone = parser_ && parser_->is_header_done() && parser_->is_done();
    keepAlive_ = keepAlive_ && bodyDone && status < 500 && status != 400 && status != 431;
    res.keep_alive(keepAlive_);
    std::ostringstream out;
    out << res;
    state_ = State::kAnswered;
    headerQueued_ = true;
    mode_ = BodyMode::kNone;
    Queue(out.str(), false);
}

template <class Stream>
void HttpSession<Stream>::Queue(std::string data, bool ack)
{
    writes_.push_back(Write{std::move(data), ack});
    WriteNext();
}

template <class Stream>
void HttpSession<Stream>::WriteNext()
{
    if (writing_ || writes_.empty() || state_ == State::kClosed) return;
    writing_ = true;
    beast::get_lowest_layer(stream_).expires_after(kIdleTimeout);
    asio::async_write(stream_, asio::buffer(writes_.front().data), [self = this->shared_from_this()](boost::system::error_code ec, size_t) {
        self->writing_ = false;
        if (self->state_ == State::kClosed) return;
        if (ec) return self->Abort("response not delivered");
        if (self->writes_.front().ack && self->link_) self->link_->Send(self->id_, WSM_SEND_RESULT, 0);
        self->writes_.pop_front();
        if (self->writes_.empty() && !self->recvPending_) beast::get_lowest_layer(self->stream_).expires_never();
        self->WriteNext();
        self->CheckDone();
    });
}

template <class Stream>
void HttpSession<Stream>::CheckDone()
{
    if (writing_ || !writes_.empty()) return;
    if (state_ == State::kAnswered || (state_ == State::kForwarded && handlerClosed_)) Finish();
}

template <class Stream>
void HttpSession<Stream>::Finish()
{
    ReleasePlugin();
    bool complete = !broken_ && (mode_ != BodyMode::kLength || remaining_ == 0);
    if (!complete) Log("connection %u: response does not match its declared length", id_);
    if (keepAlive_ && complete && !recvPending_ && parser_->is_done()) return ReadRequest();
    Shutdown();
}

template <class Stream>
void HttpSession<Stream>::ReleasePlugin()
{
    if (!link_) return;
    auto link = std::move(link_);
    link->Send(id_, WSM_SHUTDOWN_COMPLETE, 0);
    link->Release(id_);
}

template <class Stream>
void HttpSession<Stream>::Abort(const char* why)
{
    if (why) Log("connection %u: %s", id_, why);
    ReleasePlugin();
    state_ = State::kClosed;
    // A write in flight still reads its buffer until its handler runs.
    writes_.erase(writes_.begin() + (writing_ ? 1 : 0), writes_.end());
    beast::get_lowest_layer(stream_).close();
}

template <class Stream>
void HttpSession<Stream>::Shutdown()
{
    state_ = State::kClosed;
    auto& tcp = beast::get_lowest_layer(stream_);
    // A body read still under way owns the read side; nothing can be drained then.
    if (recvPending_) return tcp.close();
    tcp.expires_after(kLingerTimeout);
    if constexpr (std::is_same_v<Stream, beast::tcp_stream>) {
        boost::system::error_code ignored;
        tcp.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
        Linger();
    }
    else {
        stream_.async_shutdown([self = this->shared_from_this()](boost::system::error_code) {
            beast::get_lowest_layer(self->stream_).close();
        });
    }
}

// Unread request bytes at close would reset the connection and could destroy the answer
// before the client reads it, so the rest is drained for a moment first.
template <class Stream>
void HttpSession<Stream>::Linger()
{
    recvBuffer_.resize(4096);
    beast::get_lowest_layer(stream_).async_read_some(asio::buffer(&recvBuffer_[0], recvBuffer_.size()),
                                                     [self = this->shared_from_this()](boost::system::error_code ec, size_t) {
                                                         if (ec) return beast::get_lowest_layer(self->stream_).close();
                                                         self->Linger();
                                                     });
}

template class HttpSession<beast::tcp_stream>;
template class HttpSession<beast::ssl_stream<beast::tcp_stream>>;

}  // namespace wsp
