// The API listener under clients that hold it: event streams that fall
// behind or leave mid-write, and connections that never ask anything.

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <atomic>
#include <future>
#include <thread>

#include "api/api_server.h"

using namespace tavri;
namespace asio = boost::asio;

namespace {

const std::string kToken(64, 'a');

std::unique_ptr<asio::ip::tcp::socket> connect(asio::io_context& io, std::uint16_t port) {
  auto s = std::make_unique<asio::ip::tcp::socket>(io);
  s->connect({asio::ip::make_address("127.0.0.1"), port});
  return s;
}

std::string request(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + kToken + "\r\n\r\n";
}

// Reads until `marker` or the end; what came.
std::string read_until(asio::ip::tcp::socket& s, const std::string& marker) {
  std::string got;
  boost::system::error_code ec;
  char buffer[65536];
  while (!ec && got.find(marker) == std::string::npos) got.append(buffer, s.read_some(asio::buffer(buffer), ec));
  return got;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

}  // namespace

// Bursts far past the backlog: a reading client keeps its stream and is
// told to resync for what it missed; one that leaves mid-burst is closed
// while its write completes, which must touch nothing freed.
TEST(ApiListener, AStreamThatFallsBehindIsResyncedNotClosed) {
  api::ServerConfig config;
  config.port = 0;
  config.token = kToken;
  config.max_event_backlog_bytes = 64 * 40;
  api::ApiServer server(config, [](api::Request, api::Respond respond) { respond({200, "text/plain", "ok"}); });
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  asio::io_context io;
  const auto reader = connect(io, server.port());
  asio::write(*reader, asio::buffer(request("/api/events")));
  read_until(*reader, "events follow");
  std::size_t events = 0, resyncs = 0;
  for (int round = 0; round < 50; ++round) {
    const auto leaver = connect(io, server.port());
    asio::write(*leaver, asio::buffer(request("/api/events")));
    read_until(*leaver, "events follow");
    const std::string data = "{\"round\":" + std::to_string(round) + "}";
    for (int i = 0; i < 5000; ++i) {
      server.publish("offline", data);
      if (i == 2500) leaver->close();
    }
    server.publish("end", data);
    const std::string got = read_until(*reader, "event: end\ndata: " + data);
    ASSERT_NE(got.find("event: end"), std::string::npos) << "the stream closed in round " << round;
    const std::size_t offline = count(got, "event: offline"), resync = count(got, "event: resync");
    EXPECT_TRUE(offline == 5000 || resync > 0) << offline << " events and no resync";
    events += offline;
    resyncs += resync;
  }
  EXPECT_GT(resyncs, 0u);
  EXPECT_EQ(server.counters().event_streams, 1);
  std::printf("%zu events read, %zu resyncs\n", events, resyncs);
  server.stop();
}

// Connections that never show a credential cannot keep the operator out:
// the oldest of them makes room. Only requests being answered are never
// cut, and past them the refusal is an answer, not silence.
TEST(ApiListener, TheOperatorFindsRoomAmongIdleAndUnknownClients) {
  api::ServerConfig config;
  config.port = 0;
  config.token = kToken;
  config.max_connections = 3;
  config.max_event_streams = 2;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> holding{0};
  api::ApiServer server(config, [&](api::Request r, api::Respond respond) {
    if (r.path == "/api/hold" && ++holding)
      std::thread([released, respond] {
        released.wait();
        respond({200, "text/plain", "held"});
      }).detach();
    else
      respond({200, "text/plain", "ok"});
  });
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  asio::io_context io;
  std::vector<std::unique_ptr<asio::ip::tcp::socket>> squatters;
  for (int i = 0; i < 10; ++i) squatters.push_back(connect(io, server.port()));
  // Event streams beyond their own cap close the oldest, not requests.
  std::vector<std::unique_ptr<asio::ip::tcp::socket>> streams;
  for (int i = 0; i < 4; ++i) {
    streams.push_back(connect(io, server.port()));
    asio::write(*streams.back(), asio::buffer(request("/api/events")));
    read_until(*streams.back(), "events follow");
  }
  EXPECT_EQ(read_until(*streams[0], "never").find("never"), std::string::npos);  // closed
  for (int i = 0; i < 3; ++i) {
    const auto operator_ = connect(io, server.port());
    asio::write(*operator_, asio::buffer(request("/api/x")));
    EXPECT_EQ(read_until(*operator_, "ok").rfind("HTTP/1.1 200", 0), 0u);
  }
  EXPECT_GE(server.counters().evicted_connections, 3u);

  std::vector<std::unique_ptr<asio::ip::tcp::socket>> busy;
  for (int i = 0; i < 3; ++i) {
    busy.push_back(connect(io, server.port()));
    asio::write(*busy.back(), asio::buffer(request("/api/hold")));
  }
  while (holding < 3) std::this_thread::yield();
  const auto late = connect(io, server.port());
  EXPECT_EQ(read_until(*late, "\r\n\r\n").rfind("HTTP/1.1 503", 0), 0u);
  release.set_value();
  for (auto& s : busy) EXPECT_NE(read_until(*s, "held").find("held"), std::string::npos);
  server.stop();
}
