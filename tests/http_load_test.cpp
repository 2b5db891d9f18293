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
