#pragma once
// A connection of the API listener, plain or TLS, and the listener's state
// that every connection shares. Included by api_server.cpp only.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "api/api_server.h"
#include "api/api_token.h"
#include "api/web_routes.h"

namespace tavri::api {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// What the server keeps of a connection, plain or TLS.
class SessionBase {
 public:
  // What a connection is doing, for choosing whom to close when the
  // listener is full: one that never showed a credential goes first, then
  // one idle between requests; a request being answered is never cut.
  enum class Stage { fresh, idle, busy, streaming, closing };
  virtual ~SessionBase() = default;
  virtual void push(std::shared_ptr<const std::string> text) = 0;
  virtual void shut() = 0;
  std::atomic<Stage> stage{Stage::fresh};
};

struct ApiServer::State : std::enable_shared_from_this<ApiServer::State> {
  // Declared before the io_context: connections still queued in it when it
  // goes touch these.
  ServerConfig config;
  Handler handler;
  UploadHandler uploads;
  Counters counters;
  std::atomic<bool> running{false};
  std::mutex sessions_mutex;
  std::vector<std::weak_ptr<SessionBase>> sessions;
  std::optional<asio::ssl::context> tls;

  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::steady_timer keep_alive{io};
  std::thread thread;

  void accept();
  void tick_keep_alive();
  template <typename Fn>
  void each_session(Fn fn);
  // Room for one more request connection, made by closing the least
  // needed one; false when every one is answering a request.
  bool make_room();
  // Room for one more event stream: the oldest is closed past the cap.
  void make_stream_room();
};

// Stream: beast::tcp_stream, or the same under TLS.
template <typename Stream>
class Session : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
  using std::enable_shared_from_this<Session<Stream>>::shared_from_this;
  using std::enable_shared_from_this<Session<Stream>>::weak_from_this;
  static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

 public:
  template <typename... TlsContext>
  Session(tcp::socket socket, std::shared_ptr<ApiServer::State> state, TlsContext&... tls)
      : state_(std::move(state)), stream_(std::move(socket), tls...) {
    ++state_->counters.open_connections;
  }

  // A connection the listener has no room for is told so in its own
  // protocol (TLS included) and closed, without reading a request.
  void refuse_busy() {
    stage = Stage::closing;
    enlist();
    auto refuse = [self = shared_from_this()] {
      Response busy{503, "application/json", error_body("too many open connections")};
      busy.headers.emplace_back("Retry-After", "1");
      self->answer(std::move(busy), false);
    };
    beast::get_lowest_layer(stream_).expires_after(state_->config.deadline);
    if constexpr (kTls)
      stream_.async_handshake(asio::ssl::stream_base::server, [self = shared_from_this(), refuse](beast::error_code ec) {
        if (ec) return self->close();
        refuse();
      });
    else
      refuse();
  }
  ~Session() {
    if (upload_) upload_->finish(false, [](Response) {});
    --state_->counters.open_connections;
    if (streaming_) --state_->counters.event_streams;
  }

  void start() {
    enlist();
    if constexpr (kTls) {
      // The handshake is held to the same deadline as a request.
      beast::get_lowest_layer(stream_).expires_after(state_->config.deadline);
      stream_.async_handshake(asio::ssl::stream_base::server, [self = shared_from_this()](beast::error_code ec) {
        if (ec) return self->close();
        self->read();
      });
    } else {
      read();
    }
  }

  // From any thread: the connection closes on its own strand.
  void shut() override {
    asio::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
  }

  // An event for this stream, on its own strand, where the backlog lives.
  void push(std::shared_ptr<const std::string> text) override {
    asio::post(stream_.get_executor(), [self = shared_from_this(), text = std::move(text)] { self->queue(text); });
  }

 private:
  // Known to the listener, so that stopping it closes this connection too.
  void enlist() {
    std::lock_guard lock(state_->sessions_mutex);
    std::erase_if(state_->sessions, [](const auto& weak) { return weak.expired(); });
    state_->sessions.push_back(weak_from_this());
  }

  void read() {
    head_.emplace();
    head_->header_limit(static_cast<std::uint32_t>(state_->config.header_limit));
    // A declared length is checked against the limit for its kind of
    // request once the head is known; chunks against the body's parser.
    head_->body_limit(std::numeric_limits<std::uint64_t>::max());
    beast::get_lowest_layer(stream_).expires_after(state_->config.deadline);
    http::async_read_header(stream_, buffer_, *head_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      self->on_head(ec);
    });
  }

  // A failed read: a refusal with a status where the client can take one.
  void refuse_read(beast::error_code ec) {
    if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == asio::error::operation_aborted ||
        ec == asio::error::connection_reset)
      return close();
    if (ec == http::error::body_limit) return answer({413, "application/json", error_body("the body is too large")}, false);
    if (ec == http::error::header_limit)
      return answer({431, "application/json", error_body("the request head is too large")}, false);
    answer({400, "application/json", error_body("the request is not valid HTTP")}, false);
  }

  template <typename Message>
  Request request_of(const Message& message) {
    const std::string_view target(message.target().data(), message.target().size());
    Request request;
    request.method = std::string(message.method_string());
    const auto question = target.find('?');
    request.path = std::string(target.substr(0, question));
    if (question != std::string_view::npos) request.query = std::string(target.substr(question + 1));
    beast::error_code ec;
    const auto peer = beast::get_lowest_layer(stream_).socket().remote_endpoint(ec);
    if (!ec) request.client = peer.address().to_string();
    request.cookie = std::string(message[http::field::cookie]);
    request.csrf = std::string(message["X-CSRF-Token"]);
    request.host = std::string(message[http::field::host]);
    request.origin = std::string(message[http::field::origin]);
    request.content_type = std::string(message[http::field::content_type]);
    request.if_match = std::string(message[http::field::if_match]);
    return request;
  }

  // Who asks; a refusal is answered here (false).
  template <typename Message>
  bool authorized(Request& request, const Message& message, bool keep_alive) {
    const auto header = message[http::field::authorization];
    const web::Access access = web::access(state_->config.web.get(), request,
                                           std::string_view(header.data(), header.size()), state_->config.token,
                                           request.caller);
    caller_ = request.caller;
    if (access == web::Access::refused) {
      ++state_->counters.unauthorized;
      answer({401, "application/json", error_body("a valid bearer token or a signed-in session is needed")},
             keep_alive);
      return false;
    }
    if (access == web::Access::forged) {
      ++state_->counters.unauthorized;
      answer({403, "application/json", error_body("a change needs the session's CSRF token", "X-CSRF-Token")},
             keep_alive);
      return false;
    }
    if (const auto why = web::forbidden(request, request.caller)) {
      Response refusal{403, "application/json", error_body(*why)};
      if (audited(request)) state_->config.audit(request, refusal);
      answer(std::move(refusal), keep_alive);
      return false;
    }
    return true;
  }

  bool audited(const Request& request) const {
    return state_->config.audit && request.method != "GET" && request.method != "HEAD";
  }

  // The answer, told to the audit first when the request would change something.
  Respond audited_responder(const Request& request, bool keep_alive) {
    Respond respond = responder(keep_alive);
    if (!audited(request)) return respond;
    Request kept = request;
    kept.cookie.clear();
    kept.csrf.clear();
    return [audit = state_->config.audit, kept = std::move(kept), respond = std::move(respond)](Response response) {
      audit(kept, response);
      respond(std::move(response));
    };
  }

  void on_head(beast::error_code ec) {
    if (ec) return refuse_read(ec);
    const auto& message = head_->get();
    const auto& config = state_->config;
    const std::string_view target(message.target().data(), message.target().size());
    if (state_->uploads && message.method() == http::verb::put &&
        std::any_of(config.upload_paths.begin(), config.upload_paths.end(),
                    [&](const std::string& path) { return target.starts_with(path); }))
      return start_upload();
    if (head_->content_length().value_or(0) > config.body_limit)
      return answer({413, "application/json", error_body("the body is too large")}, false);
    body_.emplace(std::move(*head_));
    body_->body_limit(config.body_limit);
    http::async_read(stream_, buffer_, *body_, [self = shared_from_this()](beast::error_code read_ec, std::size_t) {
      self->on_read(read_ec);
    });
  }

  void on_read(beast::error_code ec) {
    if (ec) return refuse_read(ec);
    ++state_->counters.requests;
    auto& message = body_->get();
    keep_alive_ = message.keep_alive();
    Request request = request_of(message);
    request.body = std::move(message.body());
    if (!known_host(message, keep_alive_) || !authorized(request, message, keep_alive_)) return;
    // Being answered (a sign-in being hashed too): not closed to make room.
    stage = Stage::busy;
    if (web::answer(state_->config.web, request, state_->tls.has_value(),
                    audited_responder(request, keep_alive_)))
      return;
    if (request.path == "/api/events") {
      if (request.method != "GET") return answer({405, "application/json", error_body("only GET")}, keep_alive_);
      return start_stream();
    }
    auto respond = audited_responder(request, keep_alive_);
    state_->handler(std::move(request), std::move(respond));
  }

  // Only names this service is known by are answered: a page of another
  // site whose name was pointed at this address (DNS rebinding) is not.
  template <typename Message>
  bool known_host(const Message& message, bool keep_alive) {
    const auto host = message[http::field::host];
    if (web::known_host(std::string_view(host.data(), host.size()), state_->config.host_names)) return true;
    answer({421, "application/json", error_body("this server does not answer to that name", "Host")}, keep_alive);
    return false;
  }

  // The body is read block by block into the handler's upload; nothing
  // of it is held. A refusal before the body closes the connection, which
  // is the only way not to read it.
  void start_upload() {
    ++state_->counters.requests;
    const auto& message = head_->get();
    keep_alive_ = message.keep_alive();
    Request request = request_of(message);
    if (!known_host(message, false) || !authorized(request, message, false)) return;
    stage = Stage::busy;
    const auto length = head_->content_length();
    if (!length) return answer({411, "application/json", error_body("an upload needs a Content-Length")}, false);
    if (*length > state_->config.upload_limit)
      return answer({413, "application/json", error_body("the upload is too large")}, false);
    // A client that waits for "100 Continue" sends nothing it would have
    // to: a refusal reaches it before the body.
    const bool expects_continue = beast::iequals(message[http::field::expect], "100-continue");
    upload_parser_.emplace(std::move(*head_));
    upload_parser_->body_limit(*length);
    upload_request_ = request;
    upload_request_.body = "(" + std::to_string(*length) + " bytes)";
    upload_request_.cookie.clear();
    upload_request_.csrf.clear();
    state_->uploads(std::move(request), *length,
                    [self = shared_from_this(), expects_continue](std::optional<Upload> upload, Response refusal) {
                      asio::post(self->stream_.get_executor(), [self, expects_continue, upload = std::move(upload),
                                                                refusal = std::move(refusal)]() mutable {
                        if (!upload) {
                          if (self->audited(self->upload_request_)) self->state_->config.audit(self->upload_request_, refusal);
                          return self->answer(std::move(refusal), false);
                        }
                        self->upload_ = std::move(*upload);
                        if (!expects_continue) return self->read_upload();
                        static const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
                        asio::async_write(self->stream_, asio::buffer(kContinue),
                                          [self](beast::error_code ec, std::size_t) {
                                            if (ec) return self->finish_upload(false);
                                            self->read_upload();
                                          });
                      });
                    });
  }

  void read_upload() {
    auto& body = upload_parser_->get().body();
    if (upload_parser_->is_done()) return finish_upload(true);
    block_.resize(256 * 1024);
    body.data = block_.data();
    body.size = block_.size();
    // The deadline is for each block: a long upload that moves is not cut.
    beast::get_lowest_layer(stream_).expires_after(state_->config.deadline);
    http::async_read(stream_, buffer_, *upload_parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec == http::error::need_buffer) ec = {};
      if (ec) return self->finish_upload(false);
      const std::size_t got = self->block_.size() - self->upload_parser_->get().body().size;
      if (got > 0 && !self->upload_->write(self->block_.data(), got)) return self->finish_upload(false);
      self->read_upload();
    });
  }

  void finish_upload(bool complete) {
    if (!upload_) return;
    Upload upload = std::move(*upload_);
    upload_.reset();
    upload_parser_.reset();
    block_ = {};
    upload.finish(complete, audited_responder(upload_request_, complete && keep_alive_));
  }

  // How a handler answers, from whichever thread did the work: on this
  // connection's strand, while the listener still runs.
  Respond responder(bool keep_alive) {
    return [self = shared_from_this(), keep_alive](Response response) {
      if (!self->state_->running) return;  // nobody runs the connection any more
      asio::post(self->stream_.get_executor(), [self, keep_alive, response = std::move(response)]() mutable {
        self->answer(std::move(response), keep_alive);
      });
    };
  }

  void answer(Response response, bool keep_alive) {
    response_.emplace(static_cast<http::status>(response.status), 11);
    response_->set(http::field::content_type, response.content_type);
    response_->set(http::field::cache_control, "no-store");
    const auto policy = web::kContentSecurityPolicy;
    response_->set("Content-Security-Policy", beast::string_view(policy.data(), policy.size()));
    response_->set("X-Content-Type-Options", "nosniff");
    response_->set("Referrer-Policy", "no-referrer");
    response_->set("X-Frame-Options", "DENY");
    if (response.status == 401) response_->set(http::field::www_authenticate, "Bearer");
    for (auto& [name, value] : response.headers) {
      if (beast::iequals(name, "Set-Cookie"))
        response_->insert(name, value);  // one header per cookie
      else
        response_->set(name, value);
    }
    response_->body() = std::move(response.body);
    response_->keep_alive(keep_alive);
    response_->prepare_payload();
    beast::get_lowest_layer(stream_).expires_after(state_->config.deadline);
    http::async_write(stream_, *response_, [self = shared_from_this(), keep_alive](beast::error_code ec, std::size_t) {
      if (ec || !keep_alive || self->stage == Stage::closing) return self->close();
      if (self->stage == Stage::busy) self->stage = Stage::idle;
      self->read();
    });
  }

  void start_stream() {
    state_->make_stream_room();
    streaming_ = true;
    stage = Stage::streaming;
    ++state_->counters.event_streams;
    beast::get_lowest_layer(stream_).expires_never();
    // Without a length the stream's body runs until the connection closes.
    queue(std::make_shared<const std::string>(
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
        "X-Accel-Buffering: no\r\n\r\n: events follow\n\n"));
    wait_for_close();
  }

  // On the strand. A client that falls behind is not dropped: what it
  // has not read is replaced by one "resync" event, which tells it to
  // fetch the current state, and the stream goes on. One that has not
  // taken a single write within the deadline is gone, and is closed.
  void queue(std::shared_ptr<const std::string> text) {
    if (!streaming_ || closed_) return;
    if (session_ended()) return close();
    if (writing_ && std::chrono::steady_clock::now() - write_started_ > state_->config.deadline) return close();
    if (backlog_bytes_ + text->size() > state_->config.max_event_backlog_bytes) {
      // What is being written stays.
      const auto keep = backlog_.begin() + static_cast<std::ptrdiff_t>(in_flight_);
      for (auto it = keep; it != backlog_.end(); ++it) backlog_bytes_ -= (*it)->size();
      dropped_ += static_cast<std::size_t>(backlog_.end() - keep);
      backlog_.erase(keep, backlog_.end());
      ++state_->counters.resyncs;
      backlog_.push_back(std::make_shared<const std::string>("event: resync\ndata: {\"dropped\":" +
                                                             std::to_string(dropped_) + "}\n\n"));
      backlog_bytes_ += backlog_.back()->size();
      dropped_ = 0;
    }
    backlog_bytes_ += text->size();
    backlog_.push_back(std::move(text));
    if (!writing_) write_event();
  }

  // A stream ends with the session that opened it, or its token's revocation.
  bool session_ended() const {
    if (caller_.kind == Caller::Kind::session)
      return !state_->config.web->session_open(caller_.session_id) ||
             !state_->config.web->accounts().role_of(caller_.name);
    if (caller_.kind == Caller::Kind::token) return !state_->config.web->accounts().token_live(caller_.session_id);
    return false;
  }

  // The stream is ours to write; reading only notices the client leave
  // (what it sends is dropped).
  void wait_for_close() {
    stream_.async_read_some(buffer_.prepare(512), [self = shared_from_this()](beast::error_code ec, std::size_t) {
      if (ec) return self->close();
      self->buffer_.clear();
      self->wait_for_close();
    });
  }

  // What is waiting goes out together, up to 64 KiB a write: a burst
  // costs a few writes, not one per event.
  void write_event() {
    auto held = std::make_shared<std::vector<std::shared_ptr<const std::string>>>();
    std::vector<asio::const_buffer> buffers;
    std::size_t bytes = 0;
    for (const auto& text : backlog_) {
      if (!held->empty() && bytes + text->size() > 65536) break;
      held->push_back(text);
      buffers.push_back(asio::buffer(*text));
      bytes += text->size();
    }
    writing_ = true;
    in_flight_ = held->size();
    write_started_ = std::chrono::steady_clock::now();
    asio::async_write(stream_, buffers, [self = shared_from_this(), held, bytes](beast::error_code ec, std::size_t) {
      self->writing_ = false;
      self->in_flight_ = 0;
      // Closed meanwhile: the backlog was let go of then.
      if (self->closed_) return;
      if (ec) return self->close();
      self->backlog_.erase(self->backlog_.begin(), self->backlog_.begin() + static_cast<std::ptrdiff_t>(held->size()));
      self->backlog_bytes_ -= bytes;
      if (!self->backlog_.empty()) self->write_event();
    });
  }

  void close() {
    stage = Stage::closing;
    if (closed_) return;
    closed_ = true;
    beast::error_code ignored;
    auto& tcp_stream = beast::get_lowest_layer(stream_);
    tcp_stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    tcp_stream.close();
    // A write in flight holds its own text.
    backlog_.clear();
    backlog_bytes_ = 0;
  }

  // Before the stream: a handler may hold the last connection after the
  // server went, and the stream must close while the io_context it was
  // made on still exists.
  std::shared_ptr<ApiServer::State> state_;
  Stream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::empty_body>> head_;
  std::optional<http::request_parser<http::string_body>> body_;
  std::optional<http::request_parser<http::buffer_body>> upload_parser_;
  std::optional<Upload> upload_;
  std::vector<char> block_;
  std::optional<http::response<http::string_body>> response_;
  bool keep_alive_ = false;
  bool streaming_ = false;
  Caller caller_;            // who opened an event stream
  Request upload_request_;   // what the audit is told of an upload
  // The event stream's, touched on the strand only.
  std::deque<std::shared_ptr<const std::string>> backlog_;
  std::size_t backlog_bytes_ = 0, in_flight_ = 0;
  bool writing_ = false, closed_ = false;
  std::chrono::steady_clock::time_point write_started_;
  std::size_t dropped_ = 0;
};

}  // namespace tavri::api
