#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "players/net/wire_protocol.h"
#include "sim/http_fetch.h"
#include "sim/sim_player.h"

using namespace tavri;
using namespace tavri::sim;

TEST(SimPlayer, FeedbackIsWhatTheServerDecodesAndEveryCommandShowsInIt) {
  SimPlayer p("SIM-0001", "Lobby", "sim");
  auto decoded = [&] { return *wire::decode_feedback(p.feedback(), "192.0.2.2"); };
  EXPECT_EQ(wire::split_fields(p.feedback()).size(), 10u);
  EXPECT_EQ(decoded().device_id, "SIM-0001");
  EXPECT_EQ(decoded().status_device, 0);
  EXPECT_EQ(decoded().id_playlist, "---");

  p.obey(wire::kPlay, {});
  EXPECT_EQ(decoded().status_player, 1);
  p.obey(wire::kPause, {});
  EXPECT_EQ(decoded().status_player, 0);
  p.obey(wire::kRename, {"Foyer"});
  EXPECT_EQ(decoded().device_name, "Foyer");
  p.obey(wire::kMenuOn, {});
  p.obey(wire::kMuteOn, {});
  EXPECT_EQ(decoded().status_menue, 1);
  EXPECT_EQ(decoded().status_sound, 1);
  p.obey(wire::kMenuOff, {});
  p.obey(wire::kMuteOff, {});
  EXPECT_EQ(decoded().status_menue, 0);
  EXPECT_EQ(decoded().status_sound, 0);
  p.obey(wire::kBackground, {"plan.png"});
  EXPECT_EQ(decoded().device_background, "plan.png");

  // A load: new list, downloading, then ready with its first track playing.
  const auto load = p.obey(wire::kLoadPlaylist, {"7", "Lobby"});
  ASSERT_TRUE(load);
  EXPECT_EQ(load->file, "PLAYLIST_ID_7.SAV");
  EXPECT_EQ(decoded().status_device, 3);
  const auto generation = p.generation();
  p.download_started(generation);
  EXPECT_EQ(decoded().status_device, 1);
  p.download_done(generation, {{"a.mp4", 1, 10, 1, {}}, {"b.png", 1, 20, 2, {}}});
  EXPECT_EQ(decoded().status_device, 2);
  EXPECT_EQ(decoded().id_playlist, "7");
  EXPECT_EQ(p.list_name(), "Lobby");
  EXPECT_EQ(decoded().id_track, "a.mp4");
  p.obey(wire::kNext, {});
  EXPECT_EQ(decoded().id_track, "b.png");
  p.obey(wire::kBack, {});
  EXPECT_EQ(decoded().id_track, "a.mp4");
  p.advance(SimPlayer::Clock::now() + std::chrono::seconds(2));  // past its one second
  EXPECT_EQ(decoded().id_track, "b.png");
  p.obey(wire::kWebStream, {"http://radio.invalid/live"});
  EXPECT_EQ(decoded().id_track, "http://radio.invalid/live");

  // Refresh loads the same list again; a schedule names its own file.
  EXPECT_EQ(p.obey(wire::kRefreshLists, {})->file, "PLAYLIST_ID_7.SAV");
  EXPECT_EQ(p.obey(wire::kLoadSchedule, {"2", "Week"})->file, "SCHEDULE_ID_2.SAV");

  // A download that a newer command made moot changes nothing.
  const auto old_generation = p.generation();
  p.obey(wire::kClearList, {});
  p.download_done(old_generation, {{"late.mp4", 1, 1, 1, {}}});
  p.download_failed(old_generation, "gone");
  EXPECT_EQ(decoded().status_device, 0);
  EXPECT_EQ(decoded().id_playlist, "---");
  EXPECT_EQ(decoded().id_track, "---");

  const auto again = p.obey(wire::kLoadPlaylist, {"8", "Bar"});
  p.download_failed(p.generation(), "PLAYLIST_ID_8.SAV: HTTP status 404");
  EXPECT_EQ(decoded().status_device, 4);
  EXPECT_EQ(p.last_error(), "PLAYLIST_ID_8.SAV: HTTP status 404");
  EXPECT_EQ(p.commands().back(), wire::kLoadPlaylist);
}

namespace {

// Answers a GET with half the body and hangs up, and a Range request with
// the rest: what a player meets on a flaky link.
class BreakingServer {
 public:
  explicit BreakingServer(std::string body) : body_(std::move(body)) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(fd_, 4);
    thread_ = std::thread([this] { serve(); });
  }
  ~BreakingServer() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  std::uint16_t port() const { return port_; }
  std::vector<std::string> requests;

 private:
  void serve() {
    for (;;) {
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      char buf[4096];
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      const std::string request(buf, n > 0 ? std::size_t(n) : 0);
      requests.push_back(request);
      std::string reply;
      const auto range = request.find("Range: bytes=");
      if (request.find("GET /missing") == 0) {
        reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n";
      } else if (request.find("If-None-Match: \"v1\"") != std::string::npos) {
        reply = "HTTP/1.1 304 Not Modified\r\nETag: \"v1\"\r\n\r\n";
      } else if (range == std::string::npos) {
        reply = "HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nContent-Length: " + std::to_string(body_.size()) + "\r\n\r\n" +
                body_.substr(0, body_.size() / 2);
      } else {
        const std::size_t from = std::stoul(request.substr(range + 13));
        reply = "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body_.size() - from) + "\r\n\r\n" +
                body_.substr(from);
      }
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(c);
    }
  }
  std::string body_;
  int fd_;
  std::uint16_t port_;
  std::thread thread_;
};

}  // namespace

TEST(HttpFetch, ABodyThatBreaksOffIsResumedWithARangeAndHashedWhole) {
  std::string body;
  for (int i = 0; i < 300000; ++i) body += static_cast<char>('a' + i % 26);
  BreakingServer server(body);
  Fnv64 got, want;
  want.add(body.data(), body.size());
  const FetchResult r = http_get("127.0.0.1", server.port(), escape_path("Lobby Loop.mp4"),
                                 [&](const char* d, std::size_t n) { got.add(d, n); });
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.bytes, body.size());
  EXPECT_EQ(r.retries, 1);
  EXPECT_EQ(got.value, want.value);
  ASSERT_EQ(server.requests.size(), 2u);
  EXPECT_EQ(server.requests[0].rfind("GET /Lobby%20Loop.mp4 HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(server.requests[1].find("Range: bytes=150000-"), std::string::npos);
  // The resume is of the same file only.
  EXPECT_NE(server.requests[1].find("If-Range: \"v1\""), std::string::npos);
  EXPECT_EQ(r.etag, "\"v1\"");

  // A file held with the current validator is not downloaded again.
  const FetchResult held = http_get("127.0.0.1", server.port(), escape_path("Lobby Loop.mp4"),
                                    [](const char*, std::size_t) { ADD_FAILURE() << "no body for a current copy"; }, 5, 30,
                                    "\"v1\"");
  EXPECT_TRUE(held.ok) << held.error;
  EXPECT_TRUE(held.not_modified);
  EXPECT_EQ(held.bytes, 0u);

  // A 404 is an answer, asked once.
  const FetchResult missing = http_get("127.0.0.1", server.port(), "/missing", [](const char*, std::size_t) {});
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.retries, 0);
}
