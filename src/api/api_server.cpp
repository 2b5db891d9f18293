#include "api/api_server.h"

#include "api/api_session.h"

namespace tavri::api {

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          static constexpr char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string error_body(std::string_view message, std::string_view field) {
  std::string body = "{\"error\":" + json_string(message);
  if (!field.empty()) body += ",\"field\":" + json_string(field);
  return body + "}";
}

template <typename S>
void start_session(std::shared_ptr<S> session, bool room) {
  if (room)
    session->start();
  else
    session->refuse_busy();
}

void ApiServer::State::accept() {
  acceptor.async_accept(asio::make_strand(io), [this](beast::error_code ec, tcp::socket socket) {
    if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (!ec) {
      const bool room = make_room();
      if (!room) ++counters.refused_connections;
      // Refusals still being told are bounded too: past that, just closed.
      if (!room && static_cast<std::size_t>(counters.open_connections.load()) >= 2 * config.max_connections +
                                                                                    config.max_event_streams) {
        beast::error_code ignored;
        socket.close(ignored);
      } else if (tls) {
        start_session(std::make_shared<Session<beast::ssl_stream<beast::tcp_stream>>>(std::move(socket),
                                                                                     shared_from_this(), *tls),
                      room);
      } else {
        start_session(std::make_shared<Session<beast::tcp_stream>>(std::move(socket), shared_from_this()), room);
      }
    }
    accept();
  });
}

bool ApiServer::State::make_room() {
  std::lock_guard lock(sessions_mutex);
  std::size_t open = 0;
  std::shared_ptr<SessionBase> fresh, idle;
  for (const auto& weak : sessions) {
    const auto session = weak.lock();
    if (!session) continue;
    const auto stage = session->stage.load();
    if (stage == SessionBase::Stage::streaming || stage == SessionBase::Stage::closing) continue;
    ++open;
    // The list is oldest first.
    if (stage == SessionBase::Stage::fresh && !fresh) fresh = session;
    if (stage == SessionBase::Stage::idle && !idle) idle = session;
  }
  if (open < config.max_connections) return true;
  const auto victim = fresh ? fresh : idle;
  if (!victim) return false;
  victim->stage = SessionBase::Stage::closing;
  victim->shut();
  ++counters.evicted_connections;
  return true;
}

void ApiServer::State::make_stream_room() {
  std::lock_guard lock(sessions_mutex);
  std::vector<std::shared_ptr<SessionBase>> streams;
  for (const auto& weak : sessions)
    if (const auto session = weak.lock(); session && session->stage == SessionBase::Stage::streaming)
      streams.push_back(session);
  for (std::size_t i = 0; i + config.max_event_streams <= streams.size(); ++i) {
    streams[i]->stage = SessionBase::Stage::closing;
    streams[i]->shut();
  }
}

template <typename Fn>
void ApiServer::State::each_session(Fn fn) {
  std::lock_guard lock(sessions_mutex);
  for (const auto& weak : sessions)
    if (const auto session = weak.lock()) fn(*session);
}

// Proxies close idle connections; a comment line now and then keeps the
// stream open and finds the clients that left.
void ApiServer::State::tick_keep_alive() {
  keep_alive.expires_after(config.keep_alive_comment);
  keep_alive.async_wait([this](beast::error_code ec) {
    if (ec) return;
    const auto comment = std::make_shared<const std::string>(": keep-alive\n\n");
    each_session([&](SessionBase& session) { session.push(comment); });
    tick_keep_alive();
  });
}

namespace {
// Certificate and key in PEM; the chain file may hold intermediates. The
// key must be the certificate's.
bool load_tls(asio::ssl::context& tls, const std::string& certificate, const std::string& key, std::string& error) {
  beast::error_code ec;
  tls.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                      asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1,
                  ec);
  if (!ec) tls.use_certificate_chain_file(certificate, ec);
  if (ec) {
    error = certificate + ": not a usable certificate (" + ec.message() + ")";
    return false;
  }
  tls.use_private_key_file(key, asio::ssl::context::pem, ec);
  if (ec || SSL_CTX_check_private_key(tls.native_handle()) != 1) {
    error = key + ": not a usable key for the certificate (" + (ec ? ec.message() : "it is another certificate's") + ")";
    return false;
  }
  return true;
}
}  // namespace

std::optional<std::string> tls_problem(const std::string& certificate, const std::string& key) {
  asio::ssl::context tls(asio::ssl::context::tls_server);
  std::string error;
  if (load_tls(tls, certificate, key, error)) return std::nullopt;
  return error;
}

ApiServer::ApiServer(ServerConfig config, Handler handler, UploadHandler uploads)
    : state_(std::make_shared<State>()) {
  state_->config = std::move(config);
  state_->handler = std::move(handler);
  state_->uploads = std::move(uploads);
}

ApiServer::~ApiServer() { stop(); }

bool ApiServer::start(std::string& error) {
  beast::error_code ec;
  const auto address = asio::ip::make_address(state_->config.address, ec);
  if (ec) {
    error = "\"" + state_->config.address + "\" is not an IP address";
    return false;
  }
  if (!state_->config.tls_certificate.empty()) {
    auto& tls = state_->tls.emplace(asio::ssl::context::tls_server);
    if (!load_tls(tls, state_->config.tls_certificate, state_->config.tls_key, error)) return false;
  }
  const tcp::endpoint endpoint(address, state_->config.port);
  auto& acceptor = state_->acceptor;
  acceptor.open(endpoint.protocol(), ec);
  if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) acceptor.bind(endpoint, ec);
  if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + state_->config.address + " port " + std::to_string(state_->config.port) + ": " +
            ec.message();
    acceptor.close(ec);
    return false;
  }
  if (state_->config.web) {
    // A signed-out session's event streams end now, not at their next event.
    std::weak_ptr<State> weak = state_;
    state_->config.web->on_sessions_ended([weak] {
      if (const auto state = weak.lock()) {
        const auto check = std::make_shared<const std::string>(": session check\n\n");
        state->each_session([&](SessionBase& session) { session.push(check); });
      }
    });
  }
  state_->running = true;
  state_->accept();
  state_->tick_keep_alive();
  state_->thread = std::thread([state = state_] { state->io.run(); });
  return true;
}

void ApiServer::stop() {
  if (!state_->running) return;
  state_->running = false;
  // The thread ends once every connection has closed.
  asio::post(state_->io, [state = state_] {
    beast::error_code ignored;
    state->acceptor.close(ignored);
    state->keep_alive.cancel();
    state->each_session([](SessionBase& session) { session.shut(); });
  });
  if (state_->thread.joinable()) state_->thread.join();
}

std::uint16_t ApiServer::port() const {
  beast::error_code ec;
  const auto endpoint = state_->acceptor.local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void ApiServer::publish(std::string_view event, std::string_view json) {
  // One "data:" line: the JSON is written without line breaks.
  const auto text =
      std::make_shared<const std::string>("event: " + std::string(event) + "\ndata: " + std::string(json) + "\n\n");
  state_->each_session([&](SessionBase& session) { session.push(text); });
}

const Counters& ApiServer::counters() const { return state_->counters; }

}  // namespace tavri::api
