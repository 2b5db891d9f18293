#include "http_fetch.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tavri::sim {
namespace {

struct Connection {
  int fd = -1;
  ~Connection() {
    if (fd >= 0) ::close(fd);
  }
};

bool connect_to(Connection& c, const std::string& host, std::uint16_t port, int timeout, std::string& error) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    return false;
  }
  for (addrinfo* a = found; a; a = a->ai_next) {
    c.fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (c.fd < 0) continue;
    timeval tv{timeout, 0};
    ::setsockopt(c.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(c.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (::connect(c.fd, a->ai_addr, a->ai_addrlen) == 0) break;
    error = std::string("cannot connect: ") + std::strerror(errno);
    ::close(c.fd);
    c.fd = -1;
  }
  ::freeaddrinfo(found);
  return c.fd >= 0;
}

bool send_all(int fd, const std::string& text) {
  std::size_t sent = 0;
  while (sent < text.size()) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += std::size_t(n);
  }
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One attempt from `offset`; adds what arrives to the sink and to `received`.
// True when the body is complete.
bool attempt(const std::string& host, std::uint16_t port, const std::string& path, std::uint64_t offset,
             const BodySink& sink, int timeout, const std::string& held_etag, FetchResult& result,
             std::uint64_t& expected_total) {
  Connection c;
  if (!connect_to(c, host, port, timeout, result.error)) return false;
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
                        "\r\nConnection: close\r\nUser-Agent: tavri_player_sim\r\n";
  if (offset > 0) request += "Range: bytes=" + std::to_string(offset) + "-\r\n";
  // A resume splices bytes only of the same file: otherwise the server
  // answers 200 and the attempt fails, to start again from the top.
  if (offset > 0 && !result.etag.empty()) request += "If-Range: " + result.etag + "\r\n";
  if (offset == 0 && !held_etag.empty()) request += "If-None-Match: " + held_etag + "\r\n";
  request += "\r\n";
  if (!send_all(c.fd, request)) {
    result.error = "cannot send the request";
    return false;
  }
  std::string head;
  char buf[65536];
  std::size_t body_start = std::string::npos;
  while (body_start == std::string::npos) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result.error = "connection closed before the response head";
      return false;
    }
    head.append(buf, std::size_t(n));
    body_start = head.find("\r\n\r\n");
    if (head.size() > 65536) {
      result.error = "response head too long";
      return false;
    }
  }
  std::string rest = head.substr(body_start + 4);
  head.resize(body_start);
  result.status = std::atoi(head.c_str() + std::min<std::size_t>(head.find(' ') + 1, head.size()));
  std::int64_t length = -1;
  for (std::size_t pos = head.find("\r\n"); pos != std::string::npos;) {
    const std::size_t end = head.find("\r\n", pos + 2);
    const std::string line = head.substr(pos + 2, end == std::string::npos ? std::string::npos : end - pos - 2);
    const auto colon = line.find(':');
    if (colon != std::string::npos && lower(line.substr(0, colon)) == "content-length")
      length = std::atoll(line.c_str() + colon + 1);
    if (colon != std::string::npos && lower(line.substr(0, colon)) == "etag" && offset == 0)
      result.etag = line.substr(line.find_first_not_of(' ', colon + 1));
    pos = end;
  }
  if (offset == 0 && !held_etag.empty() && result.status == 304) {
    result.not_modified = true;
    return true;
  }
  if (offset > 0 ? result.status != 206 : result.status != 200) {
    result.error = "HTTP status " + std::to_string(result.status);
    return false;
  }
  if (length < 0) {
    result.error = "no Content-Length";
    return false;
  }
  if (offset == 0) expected_total = std::uint64_t(length);
  std::uint64_t left = std::uint64_t(length);
  auto take = [&](const char* data, std::size_t size) {
    const std::size_t n = std::min<std::uint64_t>(size, left);
    sink(data, n);
    left -= n;
    result.bytes += n;
  };
  take(rest.data(), rest.size());
  while (left > 0) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result.error = n == 0 ? "body ended early" : std::string("receive failed: ") + std::strerror(errno);
      return false;
    }
    take(buf, std::size_t(n));
  }
  return true;
}

}  // namespace

std::string escape_path(const std::string& file_name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out = "/";
  for (unsigned char c : file_name) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

FetchResult http_get(const std::string& host, std::uint16_t port, const std::string& path, const BodySink& sink,
                     int attempts, int timeout_seconds, const std::string& held_etag) {
  FetchResult result;
  std::uint64_t expected = 0;
  for (int i = 0; i < attempts; ++i) {
    if (i > 0) {
      ++result.retries;
      ::usleep(200000u * unsigned(i));
    }
    // A 4xx is an answer: asking again changes nothing.
    if (attempt(host, port, path, result.bytes, sink, timeout_seconds, held_etag, result, expected)) {
      result.ok = result.not_modified || result.bytes == expected;
      if (!result.ok) result.error = "size mismatch";
      return result;
    }
    if (result.status >= 400 && result.status < 500) break;
  }
  return result;
}

}  // namespace tavri::sim
