// What each client costs the content server: memory, descriptors, and what
// happens at the limits.
#include <gtest/gtest.h>
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
  // A body slice in memory per client would be 100 MB here.
  EXPECT_LT(resident_kib() - before, 24 * 1024);
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

TEST_F(HttpServerTest, BeyondTheConnectionLimitNewClientsAreClosedUntilSomeEnd) {
  LogCapture logs;
  server_->set_max_connections(20);
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 20; ++i) clients.push_back(std::make_unique<RawClient>(port_));
  ASSERT_TRUE(connections_become(20));
  RawClient refused(port_);
  EXPECT_TRUE(refused.closed_by_peer());
  EXPECT_TRUE(logs.contains("20 connections open, the limit"));
  // The ones inside are still served.
  ASSERT_TRUE(clients.front()->send(get("/PLAYLIST_ID_7.SAV")));
  EXPECT_TRUE(clients.front()->read_reply());

  clients.resize(10);
  ASSERT_TRUE(connections_become(10));
  RawClient later(port_);
  ASSERT_TRUE(later.send(get("/PLAYLIST_ID_7.SAV")));
  auto reply = later.read_reply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
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
