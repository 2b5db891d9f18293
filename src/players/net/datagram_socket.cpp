#include "datagram_socket.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "net/io_pool.h"

namespace tavri::net {
namespace {

SocketError own_error(const std::string& text) { return {kDatagramErrorDomain, 0, text, {}}; }

SocketError system_error(const boost::system::error_code& ec, const std::string& reason) {
  return {kDatagramErrorDomain, ec.value(), ec.message(), reason};
}

void set_error(SocketError* out, const std::optional<SocketError>& e) {
  if (out && e) *out = *e;
}

}  // namespace

std::shared_ptr<DatagramSocket> DatagramSocket::create(std::weak_ptr<DatagramSocketDelegate> delegate,
                                                       boost::asio::any_io_executor delegate_queue,
                                                       boost::asio::io_context& io) {
  return std::shared_ptr<DatagramSocket>(new DatagramSocket(std::move(delegate), std::move(delegate_queue), io));
}

DatagramSocket::DatagramSocket(std::weak_ptr<DatagramSocketDelegate> delegate,
                               boost::asio::any_io_executor delegate_queue, boost::asio::io_context& io)
    : delegate_(std::move(delegate)),
      delegate_queue_(std::move(delegate_queue)),
      io_(io),
      strand_(boost::asio::make_strand(io)),
      send_timer_(strand_) {}

// Handlers hold a shared pointer, so none is pending here.
DatagramSocket::~DatagramSocket() { close_descriptors(); }

std::optional<SocketError> DatagramSocket::check_delegate() const {
  if (delegate_.expired()) return own_error("Socket has no delegate.");
  if (!delegate_queue_) return own_error("Socket has no delegate queue.");
  return std::nullopt;
}

void DatagramSocket::close_descriptors() {
  boost::system::error_code ignored;
  for (Receiver* r : {&v4_, &v6_})
    if (r->socket) {
      r->socket->close(ignored);
      r->socket.reset();
    }
}

std::optional<SocketError> DatagramSocket::create_sockets() {
  boost::system::error_code ec;
  auto open = [&](Receiver& r, const udp& family) -> bool {
    if (r.socket) return true;
    r.socket.emplace(strand_);
    r.socket->open(family, ec);
    if (!ec) r.socket->non_blocking(true, ec);
    if (!ec && family == udp::v6()) r.socket->set_option(boost::asio::ip::v6_only(true), ec);
    if (ec) {
      r.socket.reset();
      return false;
    }
    return true;
  };
  if (ipv4_enabled_ && !open(v4_, udp::v4())) {
    close_descriptors();
    return system_error(ec, "Error in socket() function");
  }
  if (ipv6_enabled_ && !open(v6_, udp::v6())) {
    // A kernel without IPv6 still serves IPv4; any other failure is one.
    if (ec != boost::asio::error::address_family_not_supported || !v4_.socket) {
      close_descriptors();
      return system_error(ec, "Error in socket() function");
    }
    ipv6_enabled_ = false;
  }
  return std::nullopt;
}

bool DatagramSocket::bind_to_port(std::uint16_t port, SocketError* error) {
  auto result = run_sync(strand_, [&]() -> std::optional<SocketError> {
    if (auto e = check_delegate()) return e;
    if (closed_) return own_error("Socket is closed.");
    if (bound_) return own_error("Socket is already bound.");
    if (!ipv4_enabled_ && !ipv6_enabled_) return own_error("Both IPv4 and IPv6 are disabled.");
    if (auto e = create_sockets()) return e;
    boost::system::error_code ec;
    std::uint16_t actual = port;
    if (v4_.socket) {
      v4_.socket->bind(udp::endpoint(udp::v4(), port), ec);
      if (!ec) actual = v4_.socket->local_endpoint(ec).port();
    }
    if (!ec && v6_.socket) v6_.socket->bind(udp::endpoint(udp::v6(), actual), ec);
    // Room for a burst of feedback (a fleet starting at once) while the
    // receiver catches up; the kernel caps it at its own limit.
    for (Receiver* r : {&v4_, &v6_}) {
      boost::system::error_code ignored;
      if (r->socket) r->socket->set_option(boost::asio::socket_base::receive_buffer_size(kReceiveBuffer), ignored);
    }
    if (ec) {
      close_descriptors();
      return system_error(ec, "Error in bind() function");
    }
    bound_ = true;
    return std::nullopt;
  });
  set_error(error, result);
  return !result;
}

bool DatagramSocket::begin_receiving(SocketError* error) {
  auto result = run_sync(strand_, [&]() -> std::optional<SocketError> {
    if (!bound_ || closed_) return own_error("Socket must be bound before receiving.");
    if (receiving_) return std::nullopt;
    receiving_ = true;
    if (v4_.socket) start_receive(v4_);
    if (v6_.socket) start_receive(v6_);
    return std::nullopt;
  });
  set_error(error, result);
  return !result;
}

bool DatagramSocket::enable_broadcast(bool flag, SocketError* error) {
  auto result = run_sync(strand_, [&]() -> std::optional<SocketError> {
    if (auto e = check_delegate()) return e;
    if (closed_) return own_error("Socket is closed.");
    if (auto e = create_sockets()) return e;
    if (!v4_.socket) return std::nullopt;  // broadcast is IPv4 only
    boost::system::error_code ec;
    v4_.socket->set_option(boost::asio::socket_base::broadcast(flag), ec);
    if (ec) return system_error(ec, "Error in setsockopt() function");
    return std::nullopt;
  });
  set_error(error, result);
  return !result;
}

void DatagramSocket::set_ipv4_enabled(bool flag) {
  run_sync(strand_, [&] { ipv4_enabled_ = flag; });
}

void DatagramSocket::set_ipv6_enabled(bool flag) {
  run_sync(strand_, [&] { ipv6_enabled_ = flag; });
}

void DatagramSocket::start_receive(Receiver& r) {
  auto self = shared_from_this();
  r.socket->async_receive_from(
      boost::asio::buffer(r.buffer), r.sender,
      boost::asio::bind_executor(strand_, [this, self, &r](const boost::system::error_code& ec, std::size_t n) {
        if (closed_ || !r.socket) return;
        // A datagram longer than the buffer arrives cut to the buffer's size.
        if (ec && ec != boost::asio::error::message_size) {
          if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
            start_receive(r);
            return;
          }
          if (ec == boost::asio::error::operation_aborted) return;
          close_with(system_error(ec, "Error in recvfrom() function"));
          return;
        }
        // This datagram and every one already waiting go to the delegate in
        // one hand-over: a wake-up per datagram cost more than the datagram.
        struct Datagram {
          std::vector<std::uint8_t> data, address;
          bool cut;
        };
        std::vector<Datagram> batch;
        auto take = [&](std::size_t length, bool cut) {
          if (length == 0) return;  // an empty datagram is not delivered
          if (length > kMaxReceiveSize) {
            length = kMaxReceiveSize;
            cut = true;
          }
          const auto* raw = reinterpret_cast<const std::uint8_t*>(r.sender.data());
          batch.push_back({std::vector<std::uint8_t>(r.buffer.begin(), r.buffer.begin() + static_cast<std::ptrdiff_t>(length)),
                           std::vector<std::uint8_t>(raw, raw + r.sender.size()), cut});
        };
        take(ec == boost::asio::error::message_size ? kMaxReceiveSize : n, ec == boost::asio::error::message_size);
        for (int more = 0; more < kReceiveBatch; ++more) {
          boost::system::error_code read_error;
          const std::size_t length = r.socket->receive_from(boost::asio::buffer(r.buffer), r.sender, 0, read_error);
          if (read_error == boost::asio::error::message_size) {
            take(kMaxReceiveSize, true);
            continue;
          }
          if (read_error) break;  // nothing more waiting (or an error the next wait reports)
          take(length, false);
        }
        if (!batch.empty())
          boost::asio::post(delegate_queue_, [self, d = delegate_, batch = std::move(batch)]() mutable {
            auto delegate = d.lock();
            if (!delegate) return;
            for (auto& datagram : batch)
              delegate->udp_socket_did_receive(*self, std::move(datagram.data), std::move(datagram.address), datagram.cut);
          });
        start_receive(r);
      }));
}

void DatagramSocket::send_data(std::vector<std::uint8_t> data, std::string host, std::uint16_t port,
                               double timeout, std::int64_t tag) {
  if (data.empty()) return;
  boost::asio::post(strand_, [self = shared_from_this(), send = Send{std::make_shared<const std::vector<std::uint8_t>>(
                                                                         std::move(data)),
                                                                     std::move(host), port, timeout, tag}]() mutable {
    if (self->closed_) return;
    self->sends_.push_back(std::move(send));
    self->pump_sends();
  });
}

std::optional<boost::asio::ip::udp::endpoint> DatagramSocket::resolve_numeric(const std::string& host,
                                                                              std::uint16_t port) const {
  if (host == "localhost" || host == "loopback") {
    return ipv4_enabled_ ? udp::endpoint(boost::asio::ip::address_v4::loopback(), port)
                         : udp::endpoint(boost::asio::ip::address_v6::loopback(), port);
  }
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(host, ec);
  if (ec) return std::nullopt;
  return udp::endpoint(address, port);
}

void DatagramSocket::pump_sends() {
  if (sending_ || closed_ || sends_.empty()) return;
  sending_ = true;
  const Send& s = sends_.front();
  if (auto numeric = resolve_numeric(s.host, s.port)) {
    send_resolved(*numeric);
    return;
  }
  // Names go through the system resolver off the socket queue.
  auto resolver = std::make_shared<udp::resolver>(io_);
  resolver->async_resolve(
      s.host, std::to_string(s.port),
      boost::asio::bind_executor(strand_, [this, self = shared_from_this(), resolver](
                                              const boost::system::error_code& ec, udp::resolver::results_type results) {
        if (closed_) return;
        std::optional<udp::endpoint> chosen;
        if (!ec)
          for (const auto& entry : results) {
            const auto ep = entry.endpoint();
            if ((ep.address().is_v4() && ipv4_enabled_) || (ep.address().is_v6() && ipv6_enabled_)) {
              chosen = ep;
              break;
            }
          }
        if (!chosen) {
          finish_send();  // an unresolvable host fails this send only
          return;
        }
        send_resolved(*chosen);
      }));
}

std::vector<boost::asio::ip::address_v4> DatagramSocket::interface_broadcast_addresses() {
  std::vector<boost::asio::ip::address_v4> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_broadaddr) continue;
    if (!(i->ifa_flags & IFF_UP) || !(i->ifa_flags & IFF_BROADCAST) || (i->ifa_flags & IFF_LOOPBACK)) continue;
    const auto* b = reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr);
    const boost::asio::ip::address_v4 address(ntohl(b->sin_addr.s_addr));
    if (!address.is_unspecified() && std::find(out.begin(), out.end(), address) == out.end()) out.push_back(address);
  }
  ::freeifaddrs(list);
  return out;
}

void DatagramSocket::send_resolved(const udp::endpoint& to) {
  if (to.address().is_v4() && !ipv4_enabled_) return finish_send();
  if (to.address().is_v6() && !ipv6_enabled_) return finish_send();
  if (auto e = create_sockets()) return close_with(e);
  Receiver& r = to.address().is_v4() ? v4_ : v6_;
  if (!r.socket) return finish_send();  // family unused after bind
  // The limited broadcast leaves only by the default route, and fails
  // without one (an isolated switch): each interface's own broadcast
  // address reaches its network, needs no privileges, and reaches each
  // player once.
  targets_.clear();
  if (to.address().is_v4() && to.address().to_v4() == boost::asio::ip::address_v4::broadcast())
    for (const auto& address : interface_broadcast_addresses()) targets_.emplace_back(address, to.port());
  if (targets_.empty()) targets_.push_back(to);
  sent_to_ = 0;
  send_error_.reset();
  const Send& s = sends_.front();
  const std::uint64_t generation = ++send_generation_;
  if (s.timeout >= 0) {
    send_timer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s.timeout)));
    send_timer_.async_wait([this, self = shared_from_this(), generation](const boost::system::error_code& ec) {
      if (ec || closed_ || generation != send_generation_ || !sending_) return;
      ++send_generation_;  // the late completion of this send is ignored
      SocketError error{kDatagramErrorDomain, 0, "Send operation timed out", {}};
      if (sent_to_ == 0) notify_send(sends_.front().tag, error);
      finish_send();
    });
  }
  send_next_target();
}

void DatagramSocket::send_next_target() {
  const Send& s = sends_.front();
  if (targets_.empty()) {
    send_timer_.cancel();
    notify_send(s.tag, sent_to_ > 0 ? std::nullopt : send_error_);
    return finish_send();
  }
  const udp::endpoint to = targets_.front();
  targets_.erase(targets_.begin());
  Receiver& r = to.address().is_v4() ? v4_ : v6_;
  const std::uint64_t generation = send_generation_;
  auto data = s.data;  // shared: outlives a send that timed out
  r.socket->async_send_to(
      boost::asio::buffer(*data), to,
      boost::asio::bind_executor(strand_, [this, self = shared_from_this(), generation, data](
                                              const boost::system::error_code& ec, std::size_t) {
        if (closed_ || generation != send_generation_) return;
        // One unreachable network fails this target only; the socket and
        // its feedback stay.
        if (ec)
          send_error_ = system_error(ec, "Error in send() function.");
        else
          ++sent_to_;
        send_next_target();
      }));
}

void DatagramSocket::notify_send(std::int64_t tag, std::optional<SocketError> error) {
  boost::asio::post(delegate_queue_, [self = shared_from_this(), d = delegate_, tag, error = std::move(error)] {
    auto delegate = d.lock();
    if (!delegate) return;
    if (error)
      delegate->udp_socket_did_not_send(*self, tag, *error);
    else
      delegate->udp_socket_did_send(*self, tag);
  });
}

void DatagramSocket::finish_send() {
  if (!sends_.empty()) sends_.pop_front();
  sending_ = false;
  pump_sends();
}

void DatagramSocket::close_with(std::optional<SocketError> error) {
  if (closed_) return;
  closed_ = true;
  send_timer_.cancel();
  close_descriptors();
  sends_.clear();
  sending_ = false;
  notify_closed(std::move(error));
}

void DatagramSocket::notify_closed(std::optional<SocketError> error) {
  boost::asio::post(delegate_queue_, [self = shared_from_this(), d = delegate_, error = std::move(error)] {
    if (auto delegate = d.lock()) delegate->udp_socket_did_close(*self, error);
  });
}

void DatagramSocket::close() {
  run_sync(strand_, [&] { close_with(std::nullopt); });
}

bool DatagramSocket::is_closed() const {
  return run_sync(strand_, [&] { return closed_; });
}

std::uint16_t DatagramSocket::local_port() const {
  return run_sync(strand_, [&]() -> std::uint16_t {
    boost::system::error_code ec;
    if (v4_.socket) return v4_.socket->local_endpoint(ec).port();
    if (v6_.socket) return v6_.socket->local_endpoint(ec).port();
    return 0;
  });
}

std::optional<std::string> DatagramSocket::host_from_address(const std::vector<std::uint8_t>& address) {
  sockaddr_storage storage{};
  std::memcpy(&storage, address.data(), std::min(address.size(), sizeof storage));
  const void* host = nullptr;
  if (storage.ss_family == AF_INET && address.size() >= sizeof(sockaddr_in))
    host = &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr;
  else if (storage.ss_family == AF_INET6 && address.size() >= sizeof(sockaddr_in6))
    host = &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr;
  char text[INET6_ADDRSTRLEN] = {};
  if (!host || !inet_ntop(storage.ss_family, host, text, sizeof text)) return std::nullopt;
  return std::string(text);
}

}  // namespace tavri::net
