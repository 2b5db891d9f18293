#include "http_server.h"

#include <boost/asio/post.hpp>

#include <algorithm>

#include "http_connection.h"
#include "http_log.h"
#include "path_mapping.h"
#include "service_publisher.h"

namespace tavri::http {

std::shared_ptr<HttpServer> HttpServer::create(net::IoPool& pool) {
  auto server = std::shared_ptr<HttpServer>(new HttpServer(pool));
  server->socket_ = net::StreamSocket::create(server, server->server_queue_, pool.context(), server->server_queue_);
  return server;
}

net::IoPool& HttpServer::default_pool() {
  static net::IoPool pool(1);
  return pool;
}

HttpServer::HttpServer(net::IoPool& pool)
    : pool_(pool), server_queue_(pool.make_strand()), connection_queue_(pool.make_strand()) {}

HttpServer::~HttpServer() {
  // Nothing can call in any more; close what is still open.
  service_.reset();
  if (socket_) socket_->disconnect();
  std::lock_guard lock(connections_lock_);
  for (auto& connection : connections_) connection->stop();
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

void HttpServer::set_queue_per_connection(bool flag) {
  boost::asio::post(server_queue_, [self = shared_from_this(), flag] { self->queue_per_connection_ = flag; });
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

std::uint16_t HttpServer::listening_port() {
  return net::run_sync(server_queue_, [this] { return is_running_ ? socket_->local_port() : std::uint16_t(0); });
}

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
  config.queue = connection_queue_;
  config.request_timeout = request_timeout_;
  config.head_timeout = head_timeout_;
  return config;
}

std::size_t HttpServer::number_of_connections() {
  std::lock_guard lock(connections_lock_);
  return connections_.size();
}

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
    publish_service();
    return true;
  });
}

void HttpServer::stop(bool keep_existing_connections) {
  net::run_sync(server_queue_, [&] {
    unpublish_service();
    socket_->disconnect();
    is_running_ = false;
    if (!keep_existing_connections) {
      std::lock_guard lock(connections_lock_);
      for (auto& connection : connections_) connection->stop();
      connections_.clear();
    }
  });
}

void HttpServer::socket_did_accept(net::StreamSocket&, std::shared_ptr<net::StreamSocket> accepted) {
  // Runs on the server queue, which owns the fields read by the config.
  HttpConfig config = make_config();
  if (queue_per_connection_) config.queue = accepted->queue();
  auto connection = HttpConnection::create(std::move(accepted), std::move(config), pool_.context());
  {
    std::lock_guard lock(connections_lock_);
    connections_.push_back(connection);
  }
  connection->start();
}

void HttpServer::connection_did_die(HttpConnection* connection) {
  std::shared_ptr<HttpConnection> last;  // released outside the lock
  std::lock_guard lock(connections_lock_);
  auto it = std::find_if(connections_.begin(), connections_.end(),
                         [connection](const auto& c) { return c.get() == connection; });
  if (it != connections_.end()) {
    last = std::move(*it);
    connections_.erase(it);
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
