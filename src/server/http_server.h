#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "http_config.h"
#include "net/io_pool.h"
#include "stream_socket.h"

namespace tavri::http {

class HttpConnection;
class ServicePublisher;

// Listens for players, hands each accepted socket to a new connection that
// serves the document root, and announces itself on the local network.
class HttpServer : public net::StreamSocketDelegate, public std::enable_shared_from_this<HttpServer> {
 public:
  static constexpr std::size_t kDefaultMaxConnections = 4096;
  static constexpr std::size_t kDefaultMaxPerAddress = 64;

  // Connections are spread over the workers, each on one thread with its
  // own queue; without workers they live on the pool.
  static std::shared_ptr<HttpServer> create(net::IoPool& pool = default_pool(), net::IoGroup* workers = nullptr);
  // The listener's own pool: one thread, which only accepts.
  static net::IoPool& default_pool();
  ~HttpServer() override;

  // Stored on the server queue without waiting.
  void set_type(std::string type);
  void set_port(std::uint16_t port);
  void set_document_root(std::string root);
  // Seconds a head line or a framing write may take (tests shorten it).
  void set_request_timeout(double seconds);
  // A whole request head must arrive within this (one line every few seconds
  // must not hold a connection for a hundred line time-outs).
  void set_head_timeout(double seconds);
  // Seconds a client may take none of its answer before it is dropped.
  void set_stall_timeout(double seconds);
  // At this many open connections, the longest idle one is closed for each
  // new one, or the new one is closed while none is idle.
  void set_max_connections(std::size_t n);
  // At this many connections from one address (loopback aside), a new one
  // from it takes the place of that address's oldest connection still in
  // its head, or is closed: one host cannot hold the whole limit.
  void set_max_connections_per_address(std::size_t n);
  // Tests: loopback is limited like any other address.
  void set_limit_loopback(bool limit);

  std::string document_root();
  std::string type();
  std::uint16_t port();
  std::string domain();
  std::string name();
  std::string interface();
  // These two never wait: the window reads them every second.
  std::uint16_t listening_port();
  std::optional<std::string> published_name();

  bool start(net::StreamError* error = nullptr);
  void stop(bool keep_existing_connections = false);
  bool is_running();
  std::size_t number_of_connections();
  const HttpCounters& counters() const { return *counters_; }
  // Bytes of small files held in memory for repeated requests.
  std::size_t small_file_bytes() const;
  HttpConfig config();

  // A connection has ended (called on the connection queue).
  void connection_did_die(HttpConnection* connection);

  void socket_did_accept(net::StreamSocket& listener, std::shared_ptr<net::StreamSocket> accepted) override;

 private:
  explicit HttpServer(net::IoPool& pool);
  HttpConfig make_config();  // on the server queue
  bool make_room();          // false: the new connection must go
  bool make_room_for(const std::string& address);  // the same within one address
  void publish_service();
  void unpublish_service();

  net::IoPool& pool_;
  std::shared_ptr<net::StreamSocket> socket_;
  net::IoPool::Strand server_queue_;
  std::string document_root_;
  std::shared_ptr<SmallFileCache> small_files_;
  fs::HeldFolder root_folder_;  // on the server queue
  std::shared_ptr<HttpCounters> counters_ = std::make_shared<HttpCounters>();
  std::string interface_;
  std::uint16_t port_ = 0;
  std::unique_ptr<ServicePublisher> service_;
  std::string domain_ = "local.";
  std::string type_;
  std::string name_;
  double request_timeout_ = 30.0;
  double head_timeout_ = 30.0;
  double stall_timeout_ = 300.0;
  std::unordered_map<HttpConnection*, std::shared_ptr<HttpConnection>> connections_;
  std::mutex connections_lock_;
  std::atomic<std::size_t> connection_count_{0};
  std::atomic<std::uint16_t> listening_port_{0};
  bool is_running_ = false;
  std::size_t max_connections_ = kDefaultMaxConnections;
  std::size_t evicting_ = 0;  // idle connections closed for new ones, not yet gone
  std::size_t max_per_address_ = kDefaultMaxPerAddress;
  bool limit_loopback_ = false;
  // Connections by address, and each one's address (loopback's are not kept).
  std::unordered_map<std::string, std::size_t> per_address_;
  std::unordered_map<HttpConnection*, std::string> address_of_;
  std::string last_limited_;  // the address last told about, said once in a row
  bool at_limit_ = false;  // the limit was reported and not left since
};

}  // namespace tavri::http
