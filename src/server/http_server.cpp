#include "http_server.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include <algorithm>
#include <chrono>

#include "http_connection.h"
#include "http_log.h"
#include "path_mapping.h"
#include "service_publisher.h"
#include "small_file_cache.h"

namespace tavri::http {

std::shared_ptr<HttpServer> HttpServer::create(net::IoPool& pool, net::IoGroup* workers) {
  auto server = std::shared_ptr<HttpServer>(new HttpServer(pool));
  server->socket_ = net::StreamSocket::create(server, server->server_queue_, pool.context(), server->server_queue_);
  if (workers) server->socket_->set_accept_context([workers]() -> boost::asio::io_context& { return workers->next(); });
  return server;
}

net::IoPool& HttpServer::default_pool() {
  static net::IoPool pool(1);
  return pool;
}

HttpServer::HttpServer(net::IoPool& pool)
    : pool_(pool), server_queue_(pool.make_strand()), small_files_(std::make_shared<SmallFileCache>()) {}

HttpServer::~HttpServer() {
  // Nothing can call in any more; close what is still open.
  service_.reset();
  if (socket_) socket_->disconnect();
  std::lock_guard lock(connections_lock_);
  for (auto& [_, connection] : connections_) connection->stop();
}

void HttpServer::set_type(std::string type) {
  boost::asio::post(server_queue_, [self = shared_from_this(), type = std::move(type)] { self->type_ = type; });
}

void HttpServer::set_port(std::uint16_t port) {
  boost::asio::post(server_queue_, [self = shared_from_this(), port] { self->port_ = port; });
}

void HttpServer::set_document_root(std::string root) {
  boost::asio::post(server_queue_, [self = shared_from_this(), root = std::move(root)] { self->document_root_ = root; });
}

void HttpServer::set_stall_timeout(double seconds) {
  boost::asio::post(server_queue_, [self = shared_from_this(), seconds] { self->stall_timeout_ = seconds; });
}

void HttpServer::set_max_connections(std::size_t n) {
  boost::asio::post(server_queue_, [self = shared_from_this(), n] { self->max_connections_ = n; });
}

void HttpServer::set_max_connections_per_address(std::size_t n) {
  boost::asio::post(server_queue_, [self = shared_from_this(), n] { self->max_per_address_ = n; });
}

void HttpServer::set_limit_loopback(bool limit) {
  boost::asio::post(server_queue_, [self = shared_from_this(), limit] { self->limit_loopback_ = limit; });
}

void HttpServer::set_head_timeout(double seconds) {
  boost::asio::post(server_queue_, [self = shared_from_this(), seconds] { self->head_timeout_ = seconds; });
}

void HttpServer::set_request_timeout(double seconds) {
  boost::asio::post(server_queue_, [self = shared_from_this(), seconds] { self->request_timeout_ = seconds; });
}

std::string HttpServer::document_root() { return net::run_sync(server_queue_, [this] { return document_root_; }); }
std::string HttpServer::type() { return net::run_sync(server_queue_, [this] { return type_; }); }
std::uint16_t HttpServer::port() { return net::run_sync(server_queue_, [this] { return port_; }); }
std::string HttpServer::domain() { return net::run_sync(server_queue_, [this] { return domain_; }); }
std::string HttpServer::name() { return net::run_sync(server_queue_, [this] { return name_; }); }
std::string HttpServer::interface() { return net::run_sync(server_queue_, [this] { return interface_; }); }
bool HttpServer::is_running() { return net::run_sync(server_queue_, [this] { return is_running_; }); }

std::uint16_t HttpServer::listening_port() { return listening_port_.load(); }

std::optional<std::string> HttpServer::published_name() {
  return net::run_sync(server_queue_, [this]() -> std::optional<std::string> {
    return service_ ? service_->published_name() : std::nullopt;
  });
}

HttpConfig HttpServer::config() { return net::run_sync(server_queue_, [this] { return make_config(); }); }

HttpConfig HttpServer::make_config() {
  HttpConfig config;
  config.server = weak_from_this();
  config.document_root = document_root_.empty() ? std::string() : document_root_with_slash(document_root_);
  if (!config.document_root.empty()) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    config.folder = root_folder_.at(config.document_root, std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  }
  config.request_timeout = request_timeout_;
  config.head_timeout = head_timeout_;
  config.counters = counters_;
  config.stall_timeout = stall_timeout_;
  config.small_files = small_files_;
  return config;
}

std::size_t HttpServer::small_file_bytes() const { return small_files_->size_bytes(); }

std::size_t HttpServer::number_of_connections() { return connection_count_.load(); }

bool HttpServer::start(net::StreamError* error) {
  return net::run_sync(server_queue_, [&] {
    net::StreamError failure;
    if (!socket_->accept_on(interface_, port_, &failure)) {
      log()->error("HttpServer: cannot start: {}", failure.text());
      if (error) *error = failure;
      return false;
    }
    log()->info("HttpServer: listening on port {}", socket_->local_port());
    is_running_ = true;
    listening_port_ = socket_->local_port();
    publish_service();
    return true;
  });
}

void HttpServer::stop(bool keep_existing_connections) {
  net::run_sync(server_queue_, [&] {
    unpublish_service();
    socket_->disconnect();
    is_running_ = false;
    listening_port_ = 0;
    if (!keep_existing_connections) {
      std::lock_guard lock(connections_lock_);
      for (auto& [_, connection] : connections_) connection->stop();
      connections_.clear();
      connection_count_ = 0;
      evicting_ = 0;
      per_address_.clear();
      address_of_.clear();
    }
  });
}

void HttpServer::socket_did_accept(net::StreamSocket&, std::shared_ptr<net::StreamSocket> accepted) {
  // Runs on the server queue, which owns the fields read by the config.
  // Loopback is this machine's own: only hosts on the network are limited.
  std::string address = accepted->remote_host();
  boost::system::error_code ec;
  const bool loopback = boost::asio::ip::make_address(address, ec).is_loopback();
  const bool counted = !address.empty() && !ec && (limit_loopback_ || !loopback);
  if (!counted) address.clear();
  if ((counted && !make_room_for(address)) || !make_room()) {
    accepted->disconnect();
    return;
  }
  HttpConfig config = make_config();
  config.queue = accepted->queue();  // each connection's work stays on its socket's thread
  auto connection = HttpConnection::create(std::move(accepted), std::move(config), pool_.context());
  {
    std::lock_guard lock(connections_lock_);
    connections_.emplace(connection.get(), connection);
    connection_count_ = connections_.size();
    if (counted) {
      ++per_address_[address];
      address_of_.emplace(connection.get(), std::move(address));
    }
  }
  connection->start();
}

// The same rule within one address: its oldest connection still in its
// head makes room; with every one of them busy sending, the new one goes.
bool HttpServer::make_room_for(const std::string& address) {
  std::lock_guard lock(connections_lock_);
  const auto it = per_address_.find(address);
  if (it == per_address_.end() || it->second < max_per_address_) return true;
  if (last_limited_ != address)
    log()->warn("HttpServer: {} has {} connections, the limit for one address", address, max_per_address_);
  last_limited_ = address;
  HttpConnection* oldest = nullptr;
  for (const auto& [c, from] : address_of_) {
    const std::int64_t since = c->idle_since();
    if (from == address && since != 0 && !c->evicting() && (!oldest || since < oldest->idle_since())) oldest = c;
  }
  if (!oldest || !oldest->evict()) return false;
  // Gone from the address's count at once: its place is the new one's.
  --it->second;
  address_of_[oldest].clear();
  ++evicting_;
  return true;
}

// At the limit, a connection that waits for a request is worth less than a
// new one (a player reconnects when it next needs something); one in the
// middle of a download is not.
bool HttpServer::make_room() {
  std::lock_guard lock(connections_lock_);
  if (connections_.size() - evicting_ < max_connections_) {
    if (at_limit_) log()->info("HttpServer: below the connection limit again");
    at_limit_ = false;
    return true;
  }
  if (!at_limit_)
    log()->warn("HttpServer: {} connections open, the limit: idle ones make room for new ones, which are closed "
                "while none is idle",
                max_connections_);
  at_limit_ = true;
  HttpConnection* oldest = nullptr;
  for (auto& [c, _] : connections_) {
    const std::int64_t since = c->idle_since();
    if (since != 0 && !c->evicting() && (!oldest || since < oldest->idle_since())) oldest = c;
  }
  if (!oldest || !oldest->evict()) return false;
  ++evicting_;
  return true;
}

void HttpServer::connection_did_die(HttpConnection* connection) {
  std::shared_ptr<HttpConnection> last;  // released outside the lock
  std::lock_guard lock(connections_lock_);
  if (auto it = connections_.find(connection); it != connections_.end()) {
    if (connection->evicting() && evicting_ > 0) --evicting_;
    if (const auto from = address_of_.find(connection); from != address_of_.end()) {
      if (!from->second.empty()) {
        const auto count = per_address_.find(from->second);
        if (count != per_address_.end() && --count->second == 0) per_address_.erase(count);
      }
      address_of_.erase(from);
    }
    last = std::move(it->second);
    connections_.erase(it);
    connection_count_ = connections_.size();
  }
}

void HttpServer::publish_service() {
  if (type_.empty()) return;
  service_ = std::make_unique<ServicePublisher>(domain_, type_, name_, socket_->local_port());
  service_->publish();
}

void HttpServer::unpublish_service() {
  if (!service_) return;
  service_->stop();
  service_.reset();
}

}  // namespace tavri::http
