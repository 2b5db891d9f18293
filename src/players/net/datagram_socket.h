#pragma once
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavri::net {

inline constexpr char kDatagramErrorDomain[] = "DatagramSocketErrorDomain";

struct SocketError {
  std::string domain;
  int code = 0;
  std::string description;  // the socket's own text, or the system's
  std::string reason;       // which step failed, for system errors
};

class DatagramSocket;

class DatagramSocketDelegate {
 public:
  virtual ~DatagramSocketDelegate() = default;
  // data: the datagram (cut to 9216 bytes); address: the raw sender sockaddr.
  virtual void udp_socket_did_receive(DatagramSocket& socket, std::vector<std::uint8_t> data,
                                      std::vector<std::uint8_t> address) = 0;
  // The same, saying whether the datagram was longer and was cut.
  virtual void udp_socket_did_receive(DatagramSocket& socket, std::vector<std::uint8_t> data,
                                      std::vector<std::uint8_t> address, bool /*cut*/) {
    udp_socket_did_receive(socket, std::move(data), std::move(address));
  }
  // The socket closed itself after an error (error set) or on request.
  virtual void udp_socket_did_close(DatagramSocket&, const std::optional<SocketError>&) {}
  // A send left through at least one interface, or through none at all.
  // A failed send never closes the socket: feedback and later sends go on.
  virtual void udp_socket_did_send(DatagramSocket&, std::int64_t /*tag*/) {}
  virtual void udp_socket_did_not_send(DatagramSocket&, std::int64_t /*tag*/, const SocketError&) {}
};

// An asynchronous UDP socket over one IPv4 and one IPv6 descriptor on one
// port. All socket work runs on a private strand; events reach the delegate
// on the delegate's executor.
class DatagramSocket : public std::enable_shared_from_this<DatagramSocket> {
 public:
  static constexpr std::size_t kMaxReceiveSize = 9216;
  static constexpr int kReceiveBuffer = 4 * 1024 * 1024;
  static constexpr int kReceiveBatch = 256;

  static std::shared_ptr<DatagramSocket> create(std::weak_ptr<DatagramSocketDelegate> delegate,
                                                boost::asio::any_io_executor delegate_queue,
                                                boost::asio::io_context& io);
  ~DatagramSocket();

  bool bind_to_port(std::uint16_t port, SocketError* error = nullptr);
  bool begin_receiving(SocketError* error = nullptr);
  bool enable_broadcast(bool flag, SocketError* error = nullptr);
  void set_ipv4_enabled(bool flag);
  void set_ipv6_enabled(bool flag);

  // Queued; sends leave strictly in the order they were handed over.
  // timeout < 0: never times out. Empty data is ignored. A send to
  // 255.255.255.255 goes to the broadcast address of every up,
  // broadcast-capable IPv4 interface, so that it reaches players on
  // networks without a default route.
  void send_data(std::vector<std::uint8_t> data, std::string host, std::uint16_t port, double timeout,
                 std::int64_t tag);

  void close();
  bool is_closed() const;
  // The bound port (IPv4 first); 0 when unbound.
  std::uint16_t local_port() const;

  // The directed broadcast addresses of the up, broadcast-capable IPv4
  // interfaces (loopback excluded), each once.
  static std::vector<boost::asio::ip::address_v4> interface_broadcast_addresses();

  // Numeric host of a raw IPv4 or IPv6 socket address; nothing otherwise.
  static std::optional<std::string> host_from_address(const std::vector<std::uint8_t>& address);

 private:
  DatagramSocket(std::weak_ptr<DatagramSocketDelegate> delegate, boost::asio::any_io_executor delegate_queue,
                 boost::asio::io_context& io);
  using udp = boost::asio::ip::udp;

  struct Send {
    std::shared_ptr<const std::vector<std::uint8_t>> data;
    std::string host;
    std::uint16_t port;
    double timeout;
    std::int64_t tag;
  };
  struct Receiver {
    std::optional<udp::socket> socket;
    // One byte more than is kept: a datagram that fills it was longer.
    std::array<std::uint8_t, kMaxReceiveSize + 1> buffer{};
    udp::endpoint sender;
  };

  std::optional<SocketError> check_delegate() const;
  std::optional<SocketError> create_sockets();
  void close_descriptors();
  void start_receive(Receiver& r);
  void pump_sends();
  void send_resolved(const udp::endpoint& to);
  void send_next_target();
  void finish_send();
  std::optional<udp::endpoint> resolve_numeric(const std::string& host, std::uint16_t port) const;
  void close_with(std::optional<SocketError> error);
  void notify_closed(std::optional<SocketError> error);
  void notify_send(std::int64_t tag, std::optional<SocketError> error);

  std::weak_ptr<DatagramSocketDelegate> delegate_;
  boost::asio::any_io_executor delegate_queue_;
  boost::asio::io_context& io_;
  mutable boost::asio::strand<boost::asio::io_context::executor_type> strand_;

  bool ipv4_enabled_ = true;
  bool ipv6_enabled_ = true;
  bool bound_ = false;
  bool receiving_ = false;
  bool closed_ = false;
  Receiver v4_, v6_;
  std::deque<Send> sends_;
  bool sending_ = false;
  // Where the current send still has to go, and how it went so far.
  std::vector<udp::endpoint> targets_;
  std::size_t sent_to_ = 0;
  std::optional<SocketError> send_error_;
  boost::asio::steady_timer send_timer_;
  std::uint64_t send_generation_ = 0;
};

}  // namespace tavri::net
