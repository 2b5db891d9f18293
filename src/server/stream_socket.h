#pragma once
#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/basic_waitable_timer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "file_handle.h"

namespace tavri::net {

inline constexpr char kStreamErrorDomain[] = "StreamSocketErrorDomain";
inline constexpr char kPosixErrorDomain[] = "NSPOSIXErrorDomain";

enum StreamErrorCode {
  kBadConfig = 1,
  kBadParam = 2,
  kConnectTimeout = 3,
  kReadTimeout = 4,
  kWriteTimeout = 5,
  kReadMaxedOut = 6,
  kClosedByPeer = 7,
  kOther = 8,
  kFileEnded = 9,       // a file slice's file is shorter than the slice
  kFileUnreadable = 10, // a file slice could not be read (system_code says why)
};

struct StreamError {
  std::string domain;
  int code = 0;
  std::string description;
  std::string reason;  // the failing step, for system errors
  int system_code = 0; // the system error behind a file error
  std::string text() const { return reason.empty() ? description : reason + ": " + description; }
};

// Body bytes travel by shared pointer: a response may reuse its buffer once
// the socket has let go of it.
using Bytes = std::shared_ptr<const std::vector<std::uint8_t>>;

class StreamSocket;

class StreamSocketDelegate {
 public:
  virtual ~StreamSocketDelegate() = default;
  virtual void socket_did_accept(StreamSocket& /*listener*/, std::shared_ptr<StreamSocket> /*accepted*/) {}
  virtual void socket_did_read(StreamSocket& /*socket*/, Bytes /*data*/, std::int64_t /*tag*/) {}
  virtual void socket_did_write(StreamSocket& /*socket*/, std::int64_t /*tag*/) {}
  virtual void socket_did_disconnect(StreamSocket& /*socket*/, const std::optional<StreamError>& /*error*/) {}
  // A line read that asked for it reached its maximum length: nothing more
  // is read. The delegate may still write (a refusal) and then disconnects.
  virtual void socket_did_overflow(StreamSocket& /*socket*/, std::int64_t /*tag*/) {}
};

// An asynchronous TCP socket: a listener on IPv4 and IPv6, or one accepted
// connection. Requests are queued on the socket's own strand and answered by
// callbacks on the delegate's queue, in the order the events happened.
class StreamSocket : public std::enable_shared_from_this<StreamSocket> {
 public:
  using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;

  // socket_queue: the socket's own sequential queue; a new one when absent.
  static std::shared_ptr<StreamSocket> create(std::weak_ptr<StreamSocketDelegate> delegate,
                                              std::optional<Strand> delegate_queue,
                                              boost::asio::io_context& io,
                                              std::optional<Strand> socket_queue = std::nullopt);
  ~StreamSocket();
  StreamSocket(const StreamSocket&) = delete;
  StreamSocket& operator=(const StreamSocket&) = delete;

  static const std::vector<std::uint8_t>& crlf();

  // Listens on every address (interface empty) or on the given address.
  bool accept_on(const std::string& interface, std::uint16_t port, StreamError* error = nullptr);
  std::uint16_t local_port();
  // The peer's address ("192.0.2.7", "::1"); empty when unknown. For an
  // accepted socket before it starts, or on its own strand.
  std::string remote_host() const;
  // Where accepted connections live (by default this socket's context); set
  // before listening.
  void set_accept_context(std::function<boost::asio::io_context&()> pick) { accept_context_ = std::move(pick); }
  void set_delegate(std::weak_ptr<StreamSocketDelegate> delegate, std::optional<Strand> delegate_queue);

  // timeout < 0: none. max_length 0: none.
  void read_to_terminator(std::vector<std::uint8_t> terminator, double timeout, std::size_t max_length,
                          std::int64_t tag);
  // Like read_to_terminator, but also takes the lines right behind the
  // first one that have already arrived, up to and including the first
  // empty one: a request head usually comes whole, and is handed over in one
  // callback instead of one per line. Each line is at most max_line long;
  // a longer one closes the socket, or with tell_overflow is handed to the
  // delegate's socket_did_overflow, which may still answer.
  void read_lines(std::vector<std::uint8_t> terminator, double timeout, std::size_t max_line, std::int64_t tag,
                  bool tell_overflow = false);
  void read_to_length(std::size_t length, double timeout, std::int64_t tag);
  void write(Bytes data, double timeout, std::int64_t tag);
  void write(std::vector<std::uint8_t> data, double timeout, std::int64_t tag);
  // Several writes queued at once, in order: they leave together. A write
  // holds bytes, or else a file slice that is sent without passing through
  // user space.
  struct WriteRequest {
    Bytes data;
    double timeout = -1;
    std::int64_t tag = 0;
    FileSlice file;
    bool report = true;  // false: no socket_did_write for this one
    std::size_t size() const { return file.file ? file.length : data ? data->size() : 0; }
  };
  void write(std::vector<WriteRequest> writes);

  // Closes the socket when queued writes make no progress for this long,
  // whatever their own time-outs (< 0: never).
  void set_stall_timeout(double seconds);

  void disconnect();
  void disconnect_after_writing();

  // The socket's own queue; a delegate may share it.
  const Strand& queue() const { return strand_; }

 private:
  using tcp = boost::asio::ip::tcp;
  // Typed by the strand rather than a type-erased executor: every
  // operation and post then costs no allocation for the executor.
  using Socket = boost::asio::basic_stream_socket<tcp, Strand>;
  using Timer = boost::asio::basic_waitable_timer<std::chrono::steady_clock,
                                                  boost::asio::wait_traits<std::chrono::steady_clock>, Strand>;
  StreamSocket(std::weak_ptr<StreamSocketDelegate> delegate, std::optional<Strand> delegate_queue,
               boost::asio::io_context& io, Strand strand);

  struct Read {
    std::vector<std::uint8_t> terminator;  // empty: read by length
    std::size_t length = 0;                // max length, or the exact length
    double timeout;
    std::int64_t tag;
    bool lines = false;                    // more whole lines may follow the first
    bool tell_overflow = false;            // a line past its length goes to the delegate
  };
  using Write = WriteRequest;
  void queue_write(Write w);
  // Reads and writes are taken only by a started, connected socket that is
  // not closing.
  bool takes_requests() const { return !closed_ && !closing_after_writes_ && started_ && socket_.has_value(); }

  template <typename Fn>
  void on_strand(Fn&& fn);
  template <typename Fn>
  void to_delegate(Fn&& fn);

  enum class ReadOutcome { done, need_more, maxed_out };
  std::optional<StreamError> listen_on(const std::string& interface, std::uint16_t port);
  void accept_next(tcp::acceptor& acceptor);
  using Clock = std::chrono::steady_clock;
  void set_deadline(Clock::time_point& deadline, double timeout);
  void start_deadline_timer(Clock::time_point due);
  void pump_reads();
  ReadOutcome try_complete_read();
  void fill_buffer();
  boost::asio::mutable_buffer free_space();
  bool read_available();
  void bytes_read(boost::system::error_code ec, std::size_t n);
  void release_empty_buffer();
  void pump_writes();
  void send_file_front();
  // The front file slice read into memory, for files the kernel cannot send.
  bool read_file_front();
  // Consumes n sent bytes from the front of the queue, reporting each write that is out.
  void writes_written(std::size_t n);
  void close_with(std::optional<StreamError> error);

  std::mutex delegate_mutex_;
  std::weak_ptr<StreamSocketDelegate> delegate_;
  std::optional<Strand> delegate_queue_;
  // Set the moment a disconnect is asked for: callbacks still on their way
  // to the delegate are dropped, as if the disconnect had been synchronous.
  std::atomic<bool> disconnect_requested_{false};
  std::atomic<std::uint16_t> local_port_{0};
  boost::asio::io_context& io_;
  Strand strand_;
  std::function<boost::asio::io_context&()> accept_context_;

  std::optional<tcp::acceptor> v4_, v6_;
  Timer accept_retry_v4_, accept_retry_v6_;
  std::uint64_t listen_generation_ = 0;
  std::optional<Socket> socket_;
  bool started_ = false;
  bool closed_ = false;
  bool closing_after_writes_ = false;

  std::deque<Read> reads_;
  bool reading_ = false;  // a network read is outstanding
  bool read_armed_ = false;  // the front read is current and timed
  std::vector<std::uint8_t> buffer_;
  std::size_t buffer_start_ = 0, buffer_end_ = 0;
  bool peer_closed_ = false;

  std::deque<Write> writes_;
  bool writing_ = false;
  std::size_t front_offset_ = 0;  // bytes of the front write already sent
  bool front_timed_ = false;      // its time-out runs

  bool flush_pending_ = false;

  Timer deadline_timer_;
  bool timer_pending_ = false;
  Clock::time_point timer_due_{};
  Clock::time_point read_deadline_ = Clock::time_point::max();
  Clock::time_point write_deadline_ = Clock::time_point::max();
  double stall_timeout_ = -1;
  Clock::time_point stall_deadline_ = Clock::time_point::max();
};

}  // namespace tavri::net
