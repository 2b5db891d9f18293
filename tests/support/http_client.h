#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>

namespace tavri::test {

struct HttpReply {
  std::string status_line;
  int status = 0;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// A blocking loopback TCP client that speaks just enough HTTP for tests.
class RawClient {
 public:
  explicit RawClient(std::uint16_t port, bool ipv6 = false, double timeout_seconds = 5.0) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    timeval tv{static_cast<time_t>(timeout_seconds),
               static_cast<suseconds_t>((timeout_seconds - static_cast<int>(timeout_seconds)) * 1e6)};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    if (ipv6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_port = htons(port);
      a.sin6_addr = in6addr_loopback;
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(port);
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  int fd() const { return fd_; }

  bool send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Up to n more bytes; fewer when the peer closes or the timeout passes.
  std::string read_exactly(std::size_t n) {
    std::string out = take_buffered(n);
    while (out.size() < n) {
      char chunk[65536];
      ssize_t got = ::recv(fd_, chunk, std::min(sizeof chunk, n - out.size()), 0);
      if (got <= 0) {
        closed_ = got == 0;
        break;
      }
      out.append(chunk, static_cast<std::size_t>(got));
    }
    return out;
  }

  // One response; body_expected false for HEAD. Nothing when the connection
  // closed or went quiet before a whole head arrived.
  std::optional<HttpReply> read_reply(bool body_expected = true) {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      char chunk[65536];
      ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
      if (got <= 0) {
        closed_ = got == 0;
        return std::nullopt;
      }
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
    HttpReply reply;
    std::string head = buffer_.substr(0, end + 2);
    buffer_.erase(0, end + 4);
    auto line_end = head.find("\r\n");
    reply.status_line = head.substr(0, line_end);
    reply.status = std::atoi(reply.status_line.substr(9, 3).c_str());
    for (std::size_t pos = line_end + 2; pos < head.size();) {
      auto next = head.find("\r\n", pos);
      std::string line = head.substr(pos, next - pos);
      auto colon = line.find(':');
      std::string name = line.substr(0, colon);
      for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      reply.headers[name] = line.substr(colon + 2);
      pos = next + 2;
    }
    if (body_expected && reply.headers.count("content-length"))
      reply.body = read_exactly(std::stoull(reply.headers["content-length"]));
    return reply;
  }

  // True when the server closed the connection (reads end of stream).
  bool closed_by_peer() {
    if (closed_) return true;
    if (!buffer_.empty()) return false;
    char c;
    ssize_t got = ::recv(fd_, &c, 1, 0);
    if (got == 0) return closed_ = true;
    if (got < 0 && errno == ECONNRESET) return closed_ = true;
    if (got == 1) buffer_.push_back(c);
    return false;
  }

 private:
  std::string take_buffered(std::size_t n) {
    std::string out = buffer_.substr(0, n);
    buffer_.erase(0, out.size());
    return out;
  }

  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string buffer_;
};

}  // namespace tavri::test
