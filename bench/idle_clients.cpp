// Opens many idle connections to a server, then times ordinary requests
// beside them: idle_clients PORT IDLE_COUNT PATH [stall SECONDS BIG_PATH]
// Prints how many idle connections the server kept, and the slowest and
// median answer time of 20 requests for PATH made meanwhile. With "stall",
// every connection asks for BIG_PATH and then reads nothing for SECONDS, as
// a player that stops reading in the middle of a download.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

int connect_to(std::uint16_t port, bool small_window = false) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (small_window) {
    const int bytes = 4096;  // before connect, so the window is offered small
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{5, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One GET on a fresh connection, read to the end of its body; milliseconds,
// or a negative number on failure.
double timed_request(std::uint16_t port, const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const int fd = connect_to(port);
  if (fd < 0) return -1;
  const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return -1;
  }
  std::string reply;
  char buf[65536];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<std::size_t>(n));
  ::close(fd);
  if (reply.rfind("HTTP/1.1 200", 0) != 0) return -1;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Connections the server closed are readable (end of stream); a stalled
// one is readable anyway, so it counts as held while the server has not
// reset it.
bool still_held(int fd, bool stalled) {
  if (!stalled) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
  }
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
  char c;
  return error == 0 && ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool stall = argc >= 7 && std::string(argv[4]) == "stall";
  if (argc < 4 || (argc > 4 && !stall)) {
    std::fprintf(stderr, "usage: %s PORT IDLE_COUNT PATH [stall SECONDS BIG_PATH]\n", argv[0]);
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  const int count = std::atoi(argv[2]);
  rlimit limit{};
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);

  std::vector<int> idle;
  const std::string request = std::string("GET ") + (stall ? argv[6] : argv[3]) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  for (int i = 0; i < count; ++i) {
    const int fd = connect_to(port, stall);
    if (fd < 0) continue;
    if (stall) [[maybe_unused]] auto n = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    idle.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::seconds(stall ? std::atoi(argv[5]) : 1));

  std::vector<double> times;
  int failed = 0;
  for (int i = 0; i < 20; ++i) {
    const double ms = timed_request(port, argv[3]);
    if (ms < 0) ++failed;
    else times.push_back(ms);
  }
  int held = 0;
  for (int fd : idle) {
    if (still_held(fd, stall)) ++held;
    ::close(fd);
  }
  std::sort(times.begin(), times.end());
  std::printf("connected=%zu held=%d failed=%d max_ms=%.1f median_ms=%.1f\n", idle.size(), held, failed,
              times.empty() ? -1.0 : times.back(), times.empty() ? -1.0 : times[times.size() / 2]);
  return 0;
}
