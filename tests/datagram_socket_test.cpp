#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "players/net/datagram_socket.h"
#include "support/udp_peer.h"
#include "net/io_pool.h"

using namespace tavri::net;

namespace {

struct Recorder : DatagramSocketDelegate {
  std::mutex m;
  std::condition_variable cv;
  std::vector<std::vector<std::uint8_t>> received;
  std::vector<std::string> hosts;
  std::optional<SocketError> close_error;
  bool closed = false;
  std::vector<std::int64_t> sent;
  std::vector<SocketError> not_sent;

  void udp_socket_did_receive(DatagramSocket&, std::vector<std::uint8_t> data, std::vector<std::uint8_t> address) override {
    std::lock_guard l(m);
    received.push_back(std::move(data));
    hosts.push_back(DatagramSocket::host_from_address(address).value_or("?"));
    cv.notify_all();
  }
  void udp_socket_did_close(DatagramSocket&, const std::optional<SocketError>& e) override {
    std::lock_guard l(m);
    closed = true;
    close_error = e;
    cv.notify_all();
  }
  void udp_socket_did_send(DatagramSocket&, std::int64_t tag) override {
    std::lock_guard l(m);
    sent.push_back(tag);
    cv.notify_all();
  }
  void udp_socket_did_not_send(DatagramSocket&, std::int64_t, const SocketError& e) override {
    std::lock_guard l(m);
    not_sent.push_back(e);
    cv.notify_all();
  }
  bool wait(const std::function<bool()>& pred, int ms = 3000) {
    std::unique_lock l(m);
    return cv.wait_for(l, std::chrono::milliseconds(ms), pred);
  }
};

using Peer = tavri::test::UdpPeer;

class DatagramSocketTest : public ::testing::Test {
 protected:
  IoPool pool{2};
  std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>();
  IoPool::Strand queue = pool.make_strand();
  std::shared_ptr<DatagramSocket> open_bound() {
    auto s = DatagramSocket::create(delegate, queue, pool.context());
    SocketError e;
    EXPECT_TRUE(s->bind_to_port(0, &e)) << e.description;
    EXPECT_TRUE(s->begin_receiving(&e)) << e.description;
    return s;
  }
};

}  // namespace

TEST_F(DatagramSocketTest, DeliversDatagramsWithSenderCutsLongOnesAndSkipsEmptyOnes) {
  auto socket = open_bound();
  Peer peer;
  peer.send_to(socket->local_port(), "");
  peer.send_to(socket->local_port(), std::string(10000, 'x'));
  peer.send_to(socket->local_port(), "hello");
  ASSERT_TRUE(delegate->wait([&] { return delegate->received.size() >= 2; }));
  std::lock_guard l(delegate->m);
  ASSERT_EQ(delegate->received.size(), 2u) << "the empty datagram is not delivered";
  EXPECT_EQ(delegate->received[0].size(), 9216u);
  EXPECT_EQ(std::string(delegate->received[1].begin(), delegate->received[1].end()), "hello");
  EXPECT_EQ(delegate->hosts[1], "127.0.0.1");
  EXPECT_FALSE(delegate->closed);
}

TEST_F(DatagramSocketTest, SendsLeaveInOrderFromTheBoundPort) {
  auto socket = open_bound();
  Peer peer;
  for (int i = 0; i < 50; ++i) {
    const std::string s = "cmd" + std::to_string(i);
    socket->send_data({s.begin(), s.end()}, "127.0.0.1", peer.port(), -1, 1);
  }
  socket->send_data({}, "127.0.0.1", peer.port(), -1, 1);  // ignored
  for (int i = 0; i < 50; ++i) {
    std::uint16_t from = 0;
    EXPECT_EQ(peer.receive(&from).value_or("timeout"), "cmd" + std::to_string(i));
    EXPECT_EQ(from, socket->local_port());
  }
  const std::string last = "by name";
  socket->send_data({last.begin(), last.end()}, "localhost", peer.port(), -1, 1);
  EXPECT_EQ(peer.receive().value_or("timeout"), "by name");
}

TEST_F(DatagramSocketTest, SecondBindOnAHeldPortFails) {
  auto first = open_bound();
  auto second = DatagramSocket::create(delegate, queue, pool.context());
  SocketError e;
  EXPECT_FALSE(second->bind_to_port(first->local_port(), &e));
  EXPECT_EQ(e.reason, "Error in bind() function");
  EXPECT_EQ(e.domain, kDatagramErrorDomain);
  EXPECT_FALSE(second->begin_receiving(&e));
  EXPECT_EQ(e.description, "Socket must be bound before receiving.");
  EXPECT_FALSE(first->bind_to_port(0, &e));
  EXPECT_EQ(e.description, "Socket is already bound.");
}

TEST_F(DatagramSocketTest, ASendErrorFailsThatSendOnlyAndFeedbackKeepsFlowing) {
  auto socket = open_bound();
  ASSERT_TRUE(socket->begin_receiving());
  Peer peer;
  const std::string s = "x";
  socket->send_data({s.begin(), s.end()}, "127.0.0.1", 0, -1, 1);  // port 0 cannot be sent to
  socket->send_data({s.begin(), s.end()}, "127.0.0.1", peer.port(), -1, 2);  // queued behind it
  ASSERT_TRUE(delegate->wait([&] { return !delegate->not_sent.empty() && !delegate->sent.empty(); }));
  EXPECT_FALSE(socket->is_closed());
  EXPECT_EQ(peer.receive(), "x") << "the queued send still left";
  {
    std::lock_guard l(delegate->m);
    EXPECT_EQ(delegate->not_sent.front().reason, "Error in send() function.");
    EXPECT_EQ(delegate->sent, std::vector<std::int64_t>{2});
    EXPECT_FALSE(delegate->closed);
  }
  peer.send_to(socket->local_port(), "feedback");
  ASSERT_TRUE(delegate->wait([&] { return !delegate->received.empty(); }));
}

TEST(InterfaceBroadcasts, NeverLoopbackNorUnspecified) {
  for (const auto& address : DatagramSocket::interface_broadcast_addresses()) {
    EXPECT_FALSE(address.is_loopback());
    EXPECT_FALSE(address.is_unspecified());
  }
}

TEST_F(DatagramSocketTest, NoDelegateRefusesToBind) {
  auto s = DatagramSocket::create(std::weak_ptr<DatagramSocketDelegate>(), queue, pool.context());
  SocketError e;
  EXPECT_FALSE(s->bind_to_port(0, &e));
  EXPECT_EQ(e.description, "Socket has no delegate.");
}
