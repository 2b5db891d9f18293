// What each client costs the content server: memory, descriptors, and what
// happens at the limits.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QDir>
#include <QFile>

#include <filesystem>
#include <fstream>

#include "support/http_client.h"
#include "support/http_server_fixture.h"

using namespace tavri;
using namespace tavri::test;

namespace {

long resident_kib() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Descriptors of this process open on the given file.
int descriptors_on(const std::string& path) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec) == path) ++n;
  }
  return n;
}

}  // namespace

TEST_F(HttpServerTest, ClientsThatStopReadingCostNeitherMemoryNorExtraDescriptors) {
  const std::string path = (root_ + "/movie.mp4").toStdString();
  write_file(root_ + "/movie.mp4", pattern(8 * 1024 * 1024, 11));
  constexpr int kClients = 200;
  std::vector<std::unique_ptr<RawClient>> clients;
  const long before = resident_kib();
  for (int i = 0; i < kClients; ++i) {
    auto c = std::make_unique<RawClient>(port_);
    const int small = 16384;
    ::setsockopt(c->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(c->send(get("/movie.mp4")));
    clients.push_back(std::move(c));
  }
  for (auto& c : clients) ASSERT_TRUE(c->read_reply(false));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // A body slice in memory per client would be 100 MB here. (A sanitizer's
  // shadow memory grows with every connection: not counted there.)
#if !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(resident_kib() - before, 24 * 1024);
#else
  (void)before;
#endif
  EXPECT_LE(descriptors_on(path), kClients);

  // Half of them go away in the middle of the body; the rest read it all.
  for (int i = 0; i < kClients; i += 2) clients[static_cast<std::size_t>(i)].reset();
  ASSERT_TRUE(connections_become(kClients / 2));
  const std::string expected = pattern(8 * 1024 * 1024, 11);
  for (int i = 1; i < kClients; i += 40) {
    auto& c = clients[static_cast<std::size_t>(i)];
    // The reply head was consumed above; what is left is the body.
    std::string body = c->read_exactly(expected.size());
    EXPECT_TRUE(body == expected) << "client " << i << " got " << body.size() << " bytes";
  }
  clients.clear();
  ASSERT_TRUE(connections_become(0));
  for (int i = 0; i < 50 && descriptors_on(path) > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(descriptors_on(path), 0);
}

TEST_F(HttpServerTest, AtTheConnectionLimitIdleConnectionsMakeRoomAndBusyOnesStay) {
  LogCapture logs;
  server_->set_max_connections(20);
  write_file(root_ + "/movie.mp4", pattern(8 * 1024 * 1024, 13));
  // Ten in the middle of a download that they do not read on, ten idle.
  std::vector<std::unique_ptr<RawClient>> busy, idle;
  for (int i = 0; i < 10; ++i) {
    busy.push_back(std::make_unique<RawClient>(port_));
    const int small = 16384;
    ::setsockopt(busy.back()->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(busy.back()->send(get("/movie.mp4")));
    ASSERT_TRUE(busy.back()->read_reply(false));
  }
  for (int i = 0; i < 10; ++i) {
    idle.push_back(std::make_unique<RawClient>(port_));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(connections_become(20));

  // Each newcomer is answered and stays; the longest idle ones go, oldest first.
  std::vector<std::unique_ptr<RawClient>> newcomers;
  for (int i = 0; i < 10; ++i) {
    newcomers.push_back(std::make_unique<RawClient>(port_));
    ASSERT_TRUE(newcomers.back()->send(get("/PLAYLIST_ID_7.SAV")));
    auto reply = newcomers.back()->read_reply();
    ASSERT_TRUE(reply) << "newcomer " << i;
    EXPECT_EQ(reply->status, 200);
    EXPECT_TRUE(idle[static_cast<std::size_t>(i)]->closed_by_peer()) << "idle " << i;
  }
  EXPECT_TRUE(logs.contains("20 connections open, the limit"));
  ASSERT_TRUE(connections_become(20));
  newcomers.clear();
  ASSERT_TRUE(connections_become(10));

  // With only busy ones left and the limit lowered to them, a newcomer goes.
  server_->set_max_connections(10);
  RawClient refused(port_);
  EXPECT_TRUE(refused.closed_by_peer());
  for (auto& c : busy) {
    pollfd p{c->fd(), POLLRDHUP, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "a download in progress is never evicted";
  }
  busy.resize(5);
  ASSERT_TRUE(connections_become(5));
  RawClient later(port_);
  ASSERT_TRUE(later.send(get("/PLAYLIST_ID_7.SAV")));
  ASSERT_TRUE(later.read_reply());
  EXPECT_TRUE(logs.contains("below the connection limit again"));
}

TEST_F(HttpServerTest, AClientThatTakesNothingForTooLongIsDropped) {
  server_->set_stall_timeout(0.5);
  write_file(root_ + "/movie.mp4", pattern(8 * 1024 * 1024, 12));
  RawClient stuck(port_), idle_after_reply(port_);
  const int small = 16384;
  ::setsockopt(stuck.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  ASSERT_TRUE(stuck.send(get("/movie.mp4")));
  ASSERT_TRUE(idle_after_reply.send(get("/PLAYLIST_ID_7.SAV")));
  ASSERT_TRUE(idle_after_reply.read_reply());
  ASSERT_TRUE(stuck.read_reply(false));
  // The stuck one goes; the one that read its answer stays for its keep-alive.
  EXPECT_TRUE(connections_become(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(server_->number_of_connections(), 1u);
  EXPECT_LT(stuck.read_exactly(8 * 1024 * 1024).size(), 8u * 1024 * 1024);
  EXPECT_TRUE(stuck.closed_by_peer());
}
