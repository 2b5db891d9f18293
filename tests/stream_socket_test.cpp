#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "net/io_pool.h"
#include "server/stream_socket.h"
#include "support/http_client.h"

using namespace tavri::net;
using tavri::test::RawClient;

namespace {

// Records every callback and adopts accepted sockets onto itself.
class Recorder : public StreamSocketDelegate, public std::enable_shared_from_this<Recorder> {
 public:
  explicit Recorder(IoPool& pool) : queue_(pool.make_strand()) {}

  void socket_did_accept(StreamSocket&, std::shared_ptr<StreamSocket> accepted) override {
    accepted->set_delegate(weak_from_this(), queue_);
    std::lock_guard lock(mutex_);
    accepted_.push_back(accepted);
    events_.push_back("accept");
    changed_.notify_all();
  }
  void socket_did_read(StreamSocket&, Bytes data, std::int64_t tag) override {
    record("read " + std::to_string(tag) + " " + std::string(data->begin(), data->end()));
  }
  void socket_did_write(StreamSocket&, std::int64_t tag) override { record("write " + std::to_string(tag)); }
  void socket_did_disconnect(StreamSocket&, const std::optional<StreamError>& error) override {
    record(error ? "disconnect " + std::to_string(error->code) + " " + error->description : "disconnect");
  }

  void record(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    changed_.notify_all();
  }
  // Waits until n events arrived; returns them all.
  std::vector<std::string> wait_for(std::size_t n, double seconds = 5) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return events_.size() >= n; });
    return events_;
  }
  std::shared_ptr<StreamSocket> accepted(std::size_t i = 0) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] { return accepted_.size() > i; });
    return accepted_.at(i);
  }
  IoPool::Strand queue_;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> events_;
  std::vector<std::shared_ptr<StreamSocket>> accepted_;
};

class StreamSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder_ = std::make_shared<Recorder>(pool_);
    listener_ = StreamSocket::create(recorder_, recorder_->queue_, pool_.context());
    StreamError error;
    ASSERT_TRUE(listener_->accept_on("", 0, &error)) << error.text();
    port_ = listener_->local_port();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    listener_->disconnect();
    pool_.stop();
  }

  IoPool pool_{2};
  std::shared_ptr<Recorder> recorder_;
  std::shared_ptr<StreamSocket> listener_;
  std::uint16_t port_ = 0;
};

}  // namespace

TEST_F(StreamSocketTest, LineReadsHonourTheMaximumLength) {
  RawClient client(port_);
  ASSERT_TRUE(client.connected());
  auto socket = recorder_->accepted();
  // Exactly 8190 bytes including CR LF completes; the next 8190 without it fail.
  std::string line(8188, 'a');
  ASSERT_TRUE(client.send(line + "\r\n" + std::string(8190, 'b')));
  socket->read_to_terminator(StreamSocket::crlf(), -1, 8190, 1);
  socket->read_to_terminator(StreamSocket::crlf(), -1, 8190, 2);
  auto events = recorder_->wait_for(3);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1], "read 1 " + line + "\r\n");
  EXPECT_EQ(events[2], "disconnect 6 Read operation reached set maximum length");
}

TEST_F(StreamSocketTest, TwoLinesInOnePacketAndLengthReads) {
  RawClient client(port_);
  auto socket = recorder_->accepted();
  ASSERT_TRUE(client.send("one\r\ntwo\r\nxyz"));
  socket->read_to_terminator(StreamSocket::crlf(), 5, 0, 1);
  socket->read_to_terminator(StreamSocket::crlf(), 5, 0, 2);
  socket->read_to_length(3, 5, 3);
  socket->read_to_length(0, 5, 4);                   // does nothing
  socket->read_to_terminator({}, 5, 0, 5);           // does nothing
  socket->read_to_terminator(StreamSocket::crlf(), 5, 1, 6);  // shorter than the terminator: nothing
  auto events = recorder_->wait_for(4);
  EXPECT_EQ(events, (std::vector<std::string>{"accept", "read 1 one\r\n", "read 2 two\r\n", "read 3 xyz"}));
}

TEST_F(StreamSocketTest, LineBatchesEndAtTheFirstEmptyLineAndKeepEachLinesLimit) {
  RawClient client(port_);
  auto socket = recorder_->accepted();
  ASSERT_TRUE(client.send("GET / HTTP/1.1\r\nHost: x\r\n\r\nGET /b HTTP/1.1\r\nHo"));
  socket->read_lines(StreamSocket::crlf(), 5, 20, 1);
  socket->read_lines(StreamSocket::crlf(), 5, 20, 2);  // the next head, as far as it came
  socket->read_to_length(2, 5, 3);                     // what is left of a partial line stays
  auto events = recorder_->wait_for(4);
  EXPECT_EQ(events, (std::vector<std::string>{"accept", "read 1 GET / HTTP/1.1\r\nHost: x\r\n\r\n",
                                              "read 2 GET /b HTTP/1.1\r\n", "read 3 Ho"}));
  // A line behind the batch that is too long ends the connection when it is read.
  ASSERT_TRUE(client.send("\r\nshort\r\n" + std::string(30, 'c')));
  socket->read_lines(StreamSocket::crlf(), 5, 20, 4);
  socket->read_lines(StreamSocket::crlf(), 5, 20, 5);
  socket->read_lines(StreamSocket::crlf(), 5, 20, 6);
  events = recorder_->wait_for(7);
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[4], "read 4 \r\n");  // an empty first line ends its batch
  EXPECT_EQ(events[5], "read 5 short\r\n");
  EXPECT_EQ(events[6], "disconnect 6 Read operation reached set maximum length");
}

TEST_F(StreamSocketTest, WritesInOrderAndDisconnectAfterWriting) {
  RawClient client(port_);
  auto socket = recorder_->accepted();
  socket->write(std::vector<std::uint8_t>{}, -1, 9);  // empty: no callback
  socket->write(std::vector<std::uint8_t>{'a', 'b'}, -1, 1);
  socket->write(std::vector<std::uint8_t>(300000, 'c'), -1, 2);
  socket->disconnect_after_writing();
  socket->write(std::vector<std::uint8_t>{'z'}, -1, 3);  // refused after the request
  auto received = client.read_exactly(300003);
  EXPECT_EQ(received.size(), 300002u);
  EXPECT_EQ(received.substr(0, 3), "abc");
  auto events = recorder_->wait_for(4);
  EXPECT_EQ(events, (std::vector<std::string>{"accept", "write 1", "write 2", "disconnect"}));
}

TEST_F(StreamSocketTest, DisconnectDropsQueuedWork) {
  RawClient client(port_);
  auto socket = recorder_->accepted();
  socket->read_to_terminator(StreamSocket::crlf(), -1, 0, 1);
  socket->disconnect();
  socket->write(std::vector<std::uint8_t>{'a'}, -1, 2);
  ASSERT_TRUE(client.send("late\r\n"));
  auto events = recorder_->wait_for(3, 0.5);
  EXPECT_EQ(events, (std::vector<std::string>{"accept", "disconnect"}));
  EXPECT_TRUE(client.closed_by_peer());
}

TEST_F(StreamSocketTest, TimeoutsAndPeerClose) {
  {
    RawClient quiet(port_, true);  // IPv6 is served on the same port
    ASSERT_TRUE(quiet.connected());
    auto socket = recorder_->accepted(0);
    socket->read_to_terminator(StreamSocket::crlf(), 0.2, 0, 1);
    auto events = recorder_->wait_for(2);
    EXPECT_EQ(events.back(), "disconnect 4 Read operation timed out");
  }
  RawClient leaving(port_);
  auto socket = recorder_->accepted(1);
  ASSERT_TRUE(leaving.send("partial\r\nrest"));
  ::shutdown(leaving.fd(), SHUT_WR);
  socket->read_to_terminator(StreamSocket::crlf(), 5, 0, 1);
  socket->read_to_terminator(StreamSocket::crlf(), 5, 0, 2);
  auto events = recorder_->wait_for(5);
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[3], "read 1 partial\r\n");
  EXPECT_EQ(events[4], "disconnect 7 Socket closed by remote peer");
}

TEST_F(StreamSocketTest, ListeningTwiceOrOnATakenPortFails) {
  StreamError error;
  EXPECT_FALSE(listener_->accept_on("", 0, &error));
  EXPECT_EQ(error.code, 1);
  EXPECT_EQ(error.description, "Socket is already connected or listening.");

  auto other = StreamSocket::create(recorder_, recorder_->queue_, pool_.context());
  EXPECT_FALSE(other->accept_on("", port_, &error));
  EXPECT_EQ(error.reason, "Error in bind() function");
  EXPECT_EQ(error.code, EADDRINUSE);
  EXPECT_FALSE(other->accept_on("no-such-interface", 0, &error));
  EXPECT_EQ(error.code, 2);

  auto orphan = StreamSocket::create({}, recorder_->queue_, pool_.context());
  EXPECT_FALSE(orphan->accept_on("", 0, &error));
  EXPECT_EQ(error.description, "Cannot listen without a delegate.");

  // A closed listener can listen again.
  listener_->disconnect();
  recorder_->wait_for(1);
  EXPECT_TRUE(listener_->accept_on("127.0.0.1", 0, &error)) << error.text();
  EXPECT_NE(listener_->local_port(), 0);
}
