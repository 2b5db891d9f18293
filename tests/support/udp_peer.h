#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace tavri::test {

// A plain loopback UDP endpoint playing the players' side.
class UdpPeer {
 public:
  explicit UdpPeer(int timeout_ms = 2000) {
    addr_.sin_family = AF_INET;
    addr_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_);
    socklen_t len = sizeof addr_;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr_), &len);
    set_timeout(timeout_ms);
  }
  ~UdpPeer() { ::close(fd_); }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  void set_timeout(int ms) {
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  std::uint16_t port() const { return ntohs(addr_.sin_port); }
  void send_to(std::uint16_t port, const std::string& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  // True when a datagram waits, without taking it.
  bool receive_ready() const {
    char c;
    return ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
  }
  std::optional<std::string> receive(std::uint16_t* from_port = nullptr) const {
    char buf[65536];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    if (from_port) *from_port = ntohs(from.sin_port);
    return std::string(buf, static_cast<size_t>(n));
  }

 private:
  int fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in addr_{};
};

}  // namespace tavri::test
