#include "stream_socket.h"

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>

#include "net/io_pool.h"

namespace tavri::net {
namespace {

StreamError own_error(int code, std::string text) { return {kStreamErrorDomain, code, std::move(text), {}}; }

StreamError posix_error(const boost::system::error_code& ec, std::string reason) {
  return {kPosixErrorDomain, ec.value(), ec.message(), std::move(reason)};
}

StreamError file_error(int code, int system_code) {
  StreamError e = own_error(code, code == kFileEnded ? "File ended before the slice was sent"
                                                     : std::string("File cannot be read: ") + std::strerror(system_code));
  e.system_code = system_code;
  return e;
}

// Errors of sendfile(2) that come from the file rather than the peer.
bool is_file_side(int error) { return error == EIO || error == EOVERFLOW || error == ESPIPE || error == EFAULT; }
// The kernel cannot send this kind of file by itself.
bool needs_user_space_copy(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

// sendfile(2) has no flag against the broken-pipe signal that send(2) has.
void ignore_broken_pipe_signal() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

constexpr std::size_t kInitialBuffer = 4096;
constexpr std::size_t kReadChunk = 16384;
constexpr std::size_t kMaxGather = 16;
constexpr std::size_t kMaxGatherBytes = 1 << 20;

// Read buffers of the first size, given back by connections that wait,
// kept per thread for the next connection that reads: keep-alive requests
// then cost no allocation.
constexpr std::size_t kSpareBuffers = 32;
std::vector<std::vector<std::uint8_t>>& spare_buffers() {
  thread_local std::vector<std::vector<std::uint8_t>> spares;
  return spares;
}

}  // namespace

std::shared_ptr<StreamSocket> StreamSocket::create(std::weak_ptr<StreamSocketDelegate> delegate,
                                                   std::optional<Strand> delegate_queue,
                                                   boost::asio::io_context& io, std::optional<Strand> socket_queue) {
  Strand strand = socket_queue ? *socket_queue : boost::asio::make_strand(io);
  return std::shared_ptr<StreamSocket>(
      new StreamSocket(std::move(delegate), std::move(delegate_queue), io, std::move(strand)));
}

StreamSocket::StreamSocket(std::weak_ptr<StreamSocketDelegate> delegate, std::optional<Strand> delegate_queue,
                           boost::asio::io_context& io, Strand strand)
    : delegate_(std::move(delegate)),
      delegate_queue_(std::move(delegate_queue)),
      io_(io),
      strand_(std::move(strand)),
      accept_retry_v4_(strand_),
      accept_retry_v6_(strand_),
      deadline_timer_(strand_) {
  ignore_broken_pipe_signal();
}

// Every pending handler holds a shared pointer, so nothing runs after this.
StreamSocket::~StreamSocket() {
  boost::system::error_code ignored;
  if (socket_) socket_->close(ignored);
  if (v4_) v4_->close(ignored);
  if (v6_) v6_->close(ignored);
}

const std::vector<std::uint8_t>& StreamSocket::crlf() {
  static const std::vector<std::uint8_t> bytes{'\r', '\n'};
  return bytes;
}

// Runs at once when the caller is already on the socket queue (a delegate
// sharing it); socket code never calls its delegate inline, so this never
// re-enters the socket.
template <typename Fn>
void StreamSocket::on_strand(Fn&& fn) {
  boost::asio::dispatch(strand_, [self = shared_from_this(), fn = std::forward<Fn>(fn)]() mutable { fn(); });
}

// Queues fn(delegate) on the delegate's queue; dropped when the delegate has
// gone or a disconnect was asked for meanwhile (except the disconnect report).
template <typename Fn>
void StreamSocket::to_delegate(Fn&& fn) {
  std::weak_ptr<StreamSocketDelegate> delegate;
  std::optional<Strand> queue;
  {
    std::lock_guard lock(delegate_mutex_);
    delegate = delegate_;
    queue = delegate_queue_;
  }
  if (!queue) return;
  boost::asio::post(*queue, [self = shared_from_this(), delegate, fn = std::forward<Fn>(fn)]() mutable {
    if (auto d = delegate.lock()) fn(*d);
  });
}

void StreamSocket::set_delegate(std::weak_ptr<StreamSocketDelegate> delegate,
                                std::optional<Strand> delegate_queue) {
  std::lock_guard lock(delegate_mutex_);
  delegate_ = std::move(delegate);
  delegate_queue_ = std::move(delegate_queue);
}

bool StreamSocket::accept_on(const std::string& interface, std::uint16_t port, StreamError* error) {
  auto failure = run_sync(strand_, [&] { return listen_on(interface, port); });
  if (failure && error) *error = *failure;
  return !failure;
}

std::optional<StreamError> StreamSocket::listen_on(const std::string& interface, std::uint16_t port) {
  {
    std::lock_guard lock(delegate_mutex_);
    if (delegate_.expired()) return own_error(kBadConfig, "Cannot listen without a delegate.");
    if (!delegate_queue_) return own_error(kBadConfig, "Cannot listen without a delegate queue.");
  }
  if (v4_ || v6_ || socket_) return own_error(kBadConfig, "Socket is already connected or listening.");

  std::optional<boost::asio::ip::address> v4_address = boost::asio::ip::address_v4::any();
  std::optional<boost::asio::ip::address> v6_address = boost::asio::ip::address_v6::any();
  if (!interface.empty()) {
    if (interface == "localhost" || interface == "loopback") {
      v4_address = boost::asio::ip::address_v4::loopback();
      v6_address = boost::asio::ip::address_v6::loopback();
    } else {
      boost::system::error_code ec;
      auto address = boost::asio::ip::make_address(interface, ec);
      if (ec) return own_error(kBadParam, "Unknown interface: give an interface name or an IP address.");
      if (address.is_v4()) v6_address.reset(), v4_address = address;
      else v4_address.reset(), v6_address = address;
    }
  }

  auto open = [&](std::optional<tcp::acceptor>& acceptor, const boost::asio::ip::address& address,
                  std::uint16_t on_port) -> std::optional<StreamError> {
    boost::system::error_code ec;
    acceptor.emplace(strand_);
    auto fail = [&](const char* reason) {
      boost::system::error_code ignored;
      acceptor->close(ignored);
      acceptor.reset();
      return posix_error(ec, reason);
    };
    acceptor->open(address.is_v4() ? tcp::v4() : tcp::v6(), ec);
    if (ec) return fail("Error in socket() function");
    acceptor->non_blocking(true, ec);
    if (ec) return fail("Error enabling non-blocking IO on socket (fcntl)");
    acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec && address.is_v6()) acceptor->set_option(boost::asio::ip::v6_only(true), ec);
    if (ec) return fail("Error enabling address reuse (setsockopt)");
    acceptor->bind(tcp::endpoint(address, on_port), ec);
    if (ec) return fail("Error in bind() function");
    acceptor->listen(1024, ec);
    if (ec) return fail("Error in listen() function");
    return std::nullopt;
  };

  std::uint16_t bound = port;
  if (v4_address) {
    if (auto e = open(v4_, *v4_address, port)) return e;
    boost::system::error_code ec;
    bound = v4_->local_endpoint(ec).port();
  }
  if (v6_address) {
    auto e = open(v6_, *v6_address, bound);
    // A machine without IPv6 at all still serves IPv4; any other failure
    // fails the whole listen.
    bool no_ipv6 = e && e->code == EAFNOSUPPORT && v4_;
    if (e && !no_ipv6) {
      boost::system::error_code ignored;
      if (v4_) v4_->close(ignored), v4_.reset();
      return e;
    }
    if (!v4_ && v6_) {
      boost::system::error_code ec;
      bound = v6_->local_endpoint(ec).port();
    }
  }
  local_port_ = bound;
  closed_ = false;
  started_ = true;
  disconnect_requested_ = false;
  if (v4_) accept_next(*v4_);
  if (v6_) accept_next(*v6_);
  return std::nullopt;
}

void StreamSocket::accept_next(tcp::acceptor& acceptor) {
  boost::asio::io_context& target = accept_context_ ? accept_context_() : io_;
  auto new_strand = boost::asio::make_strand(target);
  // The generation is checked before the acceptor is touched: a closed
  // listener's acceptor may be gone by the time its aborted handler runs.
  acceptor.async_accept(
      new_strand, boost::asio::bind_executor(strand_, [self = shared_from_this(), &acceptor, &target, new_strand,
                                                       generation = listen_generation_](
                                                          boost::system::error_code ec, Socket peer) {
        if (generation != self->listen_generation_) return;
        if (ec) {
          // Out of descriptors and the like: try again shortly rather than spin.
          // Each acceptor has its own timer: re-arming a shared one cancelled
          // the other acceptor's wait, and that one never accepted again.
          Timer& retry =
              self->v4_ && &acceptor == &*self->v4_ ? self->accept_retry_v4_ : self->accept_retry_v6_;
          retry.expires_after(std::chrono::milliseconds(100));
          retry.async_wait([self, &acceptor, generation](boost::system::error_code wait_ec) {
            if (!wait_ec && generation == self->listen_generation_) self->accept_next(acceptor);
          });
          return;
        }
        boost::system::error_code ignored;
        peer.non_blocking(true, ignored);
        // A response is a head write followed by body writes: without this,
        // Nagle holds the body back until the head is acknowledged.
        peer.set_option(tcp::no_delay(true), ignored);
        std::shared_ptr<StreamSocket> accepted;
        {
          std::lock_guard lock(self->delegate_mutex_);
          accepted = std::shared_ptr<StreamSocket>(
              new StreamSocket(self->delegate_, self->delegate_queue_, target, new_strand));
        }
        accepted->socket_.emplace(std::move(peer));
        accepted->started_ = true;
        accepted->local_port_ = accepted->socket_->local_endpoint(ignored).port();
        self->to_delegate([self, accepted](StreamSocketDelegate& d) { d.socket_did_accept(*self, accepted); });
        self->accept_next(acceptor);
      }));
}

std::uint16_t StreamSocket::local_port() { return local_port_; }

void StreamSocket::read_to_terminator(std::vector<std::uint8_t> terminator, double timeout, std::size_t max_length,
                                      std::int64_t tag) {
  if (terminator.empty() || (max_length > 0 && max_length < terminator.size())) return;
  on_strand([this, r = Read{std::move(terminator), max_length, timeout, tag, false}]() mutable {
    if (!takes_requests()) return;
    reads_.push_back(std::move(r));
    pump_reads();
  });
}

void StreamSocket::read_lines(std::vector<std::uint8_t> terminator, double timeout, std::size_t max_line,
                              std::int64_t tag, bool tell_overflow) {
  if (terminator.empty() || (max_line > 0 && max_line < terminator.size())) return;
  on_strand([this, r = Read{std::move(terminator), max_line, timeout, tag, true, tell_overflow}]() mutable {
    if (!takes_requests()) return;
    reads_.push_back(std::move(r));
    pump_reads();
  });
}

void StreamSocket::read_to_length(std::size_t length, double timeout, std::int64_t tag) {
  if (length == 0) return;
  on_strand([this, r = Read{{}, length, timeout, tag, false}]() mutable {
    if (!takes_requests()) return;
    reads_.push_back(std::move(r));
    pump_reads();
  });
}

void StreamSocket::write(std::vector<std::uint8_t> data, double timeout, std::int64_t tag) {
  if (data.empty()) return;
  write(std::make_shared<const std::vector<std::uint8_t>>(std::move(data)), timeout, tag);
}

void StreamSocket::write(Bytes data, double timeout, std::int64_t tag) {
  if (!data || data->empty()) return;
  on_strand([this, w = Write{std::move(data), timeout, tag, {}}]() mutable { queue_write(std::move(w)); });
}

void StreamSocket::write(std::vector<WriteRequest> writes) {
  std::erase_if(writes, [](const WriteRequest& w) { return w.size() == 0; });
  if (writes.empty()) return;
  on_strand([this, writes = std::move(writes)]() mutable {
    for (auto& w : writes) queue_write(std::move(w));
  });
}

void StreamSocket::queue_write(Write w) {
  if (!takes_requests()) return;
  writes_.push_back(std::move(w));
  // Start writing after the requests already queued behind this one, so
  // that writes handed over together leave in one system call.
  if (flush_pending_ || writing_) return;
  flush_pending_ = true;
  boost::asio::post(strand_, [self = shared_from_this()] {
    self->flush_pending_ = false;
    self->pump_writes();
  });
}

// Read and write time-outs share one timer that is re-armed only when it
// fires: finishing a request just clears its deadline, so a busy connection
// does not touch the timer queue for every line it reads.
void StreamSocket::set_deadline(Clock::time_point& deadline, double timeout) {
  if (timeout < 0) {
    deadline = Clock::time_point::max();
    return;
  }
  deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  if (!timer_pending_ || deadline < timer_due_) start_deadline_timer(deadline);
}

void StreamSocket::start_deadline_timer(Clock::time_point due) {
  timer_pending_ = true;
  timer_due_ = due;
  deadline_timer_.expires_at(due);
  deadline_timer_.async_wait([self = shared_from_this(), due](boost::system::error_code ec) {
    if (ec || self->closed_ || due != self->timer_due_) return;  // cancelled, or replaced by an earlier one
    self->timer_pending_ = false;
    const auto now = Clock::now();
    if (self->read_deadline_ <= now) return self->close_with(own_error(kReadTimeout, "Read operation timed out"));
    if (self->write_deadline_ <= now) return self->close_with(own_error(kWriteTimeout, "Write operation timed out"));
    if (self->stall_deadline_ <= now) return self->close_with(own_error(kWriteTimeout, "Write operation stalled"));
    const auto next = std::min({self->read_deadline_, self->write_deadline_, self->stall_deadline_});
    if (next != Clock::time_point::max()) self->start_deadline_timer(next);
  });
}

StreamSocket::ReadOutcome StreamSocket::try_complete_read() {
  const Read& r = reads_.front();
  const std::uint8_t* begin = buffer_.data() + buffer_start_;
  std::size_t available = buffer_end_ - buffer_start_;
  std::size_t take = 0;
  if (r.terminator.empty()) {
    if (available < r.length) return ReadOutcome::need_more;
    take = r.length;
  } else {
    std::size_t window = r.length > 0 ? std::min(available, r.length) : available;
    auto found = std::search(begin, begin + window, r.terminator.begin(), r.terminator.end());
    if (found == begin + window) return r.length > 0 && available >= r.length ? ReadOutcome::maxed_out
                                                                               : ReadOutcome::need_more;
    take = static_cast<std::size_t>(found - begin) + r.terminator.size();
    const std::size_t tsize = r.terminator.size();
    for (std::size_t line = take; r.lines && line > tsize;) {
      const std::uint8_t* next = begin + take;
      const std::size_t rest = available - take;
      const std::size_t next_window = r.length > 0 ? std::min(rest, r.length) : rest;
      auto end = std::search(next, next + next_window, r.terminator.begin(), r.terminator.end());
      if (end == next + next_window) break;
      line = static_cast<std::size_t>(end - next) + tsize;
      take += line;
    }
  }
  auto data = std::make_shared<const std::vector<std::uint8_t>>(begin, begin + take);
  buffer_start_ += take;
  release_empty_buffer();
  std::int64_t tag = r.tag;
  reads_.pop_front();
  read_armed_ = false;
  read_deadline_ = Clock::time_point::max();
  to_delegate([this, data = std::move(data), tag](StreamSocketDelegate& d) {
    if (!disconnect_requested_) d.socket_did_read(*this, data, tag);
  });
  return ReadOutcome::done;
}

void StreamSocket::pump_reads() {
  while (!closed_ && !reads_.empty()) {
    if (!read_armed_) {
      read_armed_ = true;
      set_deadline(read_deadline_, reads_.front().timeout);
    }
    switch (try_complete_read()) {
      case ReadOutcome::done:
        continue;
      case ReadOutcome::maxed_out: {
        if (!reads_.front().tell_overflow) {
          close_with(own_error(kReadMaxedOut, "Read operation reached set maximum length"));
          return;
        }
        const std::int64_t tag = reads_.front().tag;
        reads_.clear();
        read_armed_ = false;
        read_deadline_ = Clock::time_point::max();
        to_delegate([this, tag](StreamSocketDelegate& d) {
          if (!disconnect_requested_) d.socket_did_overflow(*this, tag);
        });
        return;
      }
      case ReadOutcome::need_more:
        if (peer_closed_) {
          close_with(own_error(kClosedByPeer, "Socket closed by remote peer"));
          return;
        }
        fill_buffer();
        return;
    }
  }
}

// An empty buffer is given back: a connection that waits for its next
// request, or that is busy sending a download, holds no read memory. It
// waits for readability and only then takes a buffer and reads.
void StreamSocket::fill_buffer() {
  if (reading_ || !socket_) return;
  // What has already arrived is read at once, as an asynchronous read
  // would try first; only an empty socket is waited for.
  if (buffer_start_ == buffer_end_ && read_available()) return;
  reading_ = true;
  if (buffer_start_ == buffer_end_) {
    socket_->async_wait(boost::asio::socket_base::wait_read,
                        boost::asio::bind_executor(strand_, [self = shared_from_this()](boost::system::error_code ec) {
                          self->reading_ = false;
                          if (self->closed_) return;
                          if (ec) return self->close_with(posix_error(ec, "Error in read() function"));
                          self->fill_buffer();
                        }));
    return;
  }
  socket_->async_read_some(
      boost::asio::buffer(free_space()),
      boost::asio::bind_executor(strand_, [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
        self->reading_ = false;
        if (self->closed_) return;
        self->bytes_read(ec, n);
      }));
}

boost::asio::mutable_buffer StreamSocket::free_space() {
  if (buffer_start_ > 0 && buffer_start_ * 2 >= buffer_end_) {
    std::copy(buffer_.begin() + buffer_start_, buffer_.begin() + buffer_end_, buffer_.begin());
    buffer_end_ -= buffer_start_;
    buffer_start_ = 0;
  }
  if (buffer_.empty() && !spare_buffers().empty()) {
    buffer_ = std::move(spare_buffers().back());
    spare_buffers().pop_back();
  }
  if (buffer_.size() < kInitialBuffer) buffer_.resize(kInitialBuffer);
  if (buffer_.size() - buffer_end_ < kReadChunk / 4)
    buffer_.resize(std::max(buffer_.size() * 2, buffer_end_ + kReadChunk));
  return boost::asio::buffer(buffer_.data() + buffer_end_, buffer_.size() - buffer_end_);
}

// False when nothing is there yet.
bool StreamSocket::read_available() {
  boost::system::error_code ec;
  if (!socket_->non_blocking()) socket_->non_blocking(true, ec);
  const std::size_t n = ec ? 0 : socket_->read_some(free_space(), ec);
  if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) {
    release_empty_buffer();
    return false;
  }
  bytes_read(ec, n);
  return true;
}

void StreamSocket::bytes_read(boost::system::error_code ec, std::size_t n) {
  buffer_end_ += n;
  if (ec == boost::asio::error::eof) {
    peer_closed_ = true;
  } else if (ec) {
    close_with(posix_error(ec, "Error in read() function"));
    return;
  }
  release_empty_buffer();
  pump_reads();
}

void StreamSocket::release_empty_buffer() {
  if (buffer_start_ != buffer_end_) return;
  buffer_start_ = buffer_end_ = 0;
  auto& spares = spare_buffers();
  if (buffer_.size() == kInitialBuffer && spares.size() < kSpareBuffers) spares.push_back(std::move(buffer_));
  std::vector<std::uint8_t>().swap(buffer_);
}

// Writes queued back to back go out in gathered system calls. Each write
// keeps its own time-out, counted from when its first byte is due until its
// last byte is out, and gets its callback, in order, as soon as it is out:
// a response head with a time-out must not lend it to the body slice
// gathered behind it. Bytes in front of a file slice are sent with the
// "more" flag, so that the head and the file's first bytes share packets.
void StreamSocket::pump_writes() {
  if (writing_ || closed_) return;
  if (writes_.empty()) {
    stall_deadline_ = Clock::time_point::max();
    if (closing_after_writes_) close_with(std::nullopt);
    return;
  }
  if (!front_timed_) {
    set_deadline(write_deadline_, writes_.front().timeout);
    front_timed_ = true;
  }
  if (stall_deadline_ == Clock::time_point::max()) set_deadline(stall_deadline_, stall_timeout_);
  if (writes_.front().file.file) return send_file_front();
  std::vector<boost::asio::const_buffer> buffers;
  std::size_t bytes = 0;
  bool file_follows = false;
  for (const Write& w : writes_) {
    if (w.file.file) {
      file_follows = true;
      break;
    }
    if (buffers.size() == kMaxGather || (bytes > 0 && bytes + w.data->size() > kMaxGatherBytes)) break;
    const std::size_t skip = buffers.empty() ? front_offset_ : 0;
    buffers.emplace_back(boost::asio::buffer(*w.data) + skip);
    bytes += w.data->size() - skip;
  }
  writing_ = true;
  socket_->async_send(
      buffers, file_follows ? MSG_MORE : 0,
      boost::asio::bind_executor(strand_, [self = shared_from_this()](boost::system::error_code ec, std::size_t n) {
        self->writing_ = false;
        if (self->closed_) return;
        if (ec) {
          if (ec == boost::asio::error::would_block || ec == boost::asio::error::try_again) return self->pump_writes();
          self->close_with(posix_error(ec, "Error in write() function"));
          return;
        }
        self->writes_written(n);
        self->pump_writes();
      }));
}

void StreamSocket::send_file_front() {
  const Write& w = writes_.front();
  for (;;) {
    auto offset = static_cast<off_t>(w.file.offset + front_offset_);
    const std::size_t left = w.file.length - front_offset_;
    const ssize_t n = ::sendfile(socket_->native_handle(), w.file.file->fd(), &offset, left);
    if (n > 0) {
      writes_written(static_cast<std::size_t>(n));
      return pump_writes();
    }
    if (n == 0) return close_with(file_error(kFileEnded, 0));
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) break;
    if (needs_user_space_copy(error) && front_offset_ == 0) {
      if (!read_file_front()) return;
      return pump_writes();
    }
    if (is_file_side(error)) return close_with(file_error(kFileUnreadable, error));
    return close_with(
        posix_error(boost::system::error_code(error, boost::system::system_category()), "Error in write() function"));
  }
  writing_ = true;
  socket_->async_wait(Socket::wait_write,
                      boost::asio::bind_executor(strand_, [self = shared_from_this()](boost::system::error_code ec) {
                        self->writing_ = false;
                        if (self->closed_) return;
                        if (ec) return self->close_with(posix_error(ec, "Error in write() function"));
                        self->pump_writes();
                      }));
}

bool StreamSocket::read_file_front() {
  Write& w = writes_.front();
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(w.file.length);
  std::size_t got = 0;
  while (got < bytes->size()) {
    const ssize_t r = ::pread(w.file.file->fd(), bytes->data() + got, bytes->size() - got,
                              static_cast<off_t>(w.file.offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      close_with(file_error(r == 0 ? kFileEnded : kFileUnreadable, r == 0 ? 0 : errno));
      return false;
    }
    got += static_cast<std::size_t>(r);
  }
  w.data = std::move(bytes);
  w.file = {};
  return true;
}

void StreamSocket::writes_written(std::size_t n) {
  if (n > 0 && stall_timeout_ >= 0) set_deadline(stall_deadline_, stall_timeout_);
  while (n > 0 && !writes_.empty()) {
    const std::size_t left = writes_.front().size() - front_offset_;
    if (n < left) {
      front_offset_ += n;
      return;
    }
    n -= left;
    const std::int64_t tag = writes_.front().tag;
    const bool report = writes_.front().report;
    writes_.pop_front();
    front_offset_ = 0;
    front_timed_ = false;
    write_deadline_ = Clock::time_point::max();
    if (report)
      to_delegate([s = this, tag](StreamSocketDelegate& d) {
      if (!s->disconnect_requested_) d.socket_did_write(*s, tag);
    });
  }
}

void StreamSocket::set_stall_timeout(double seconds) {
  on_strand([this, seconds] { stall_timeout_ = seconds; });
}

void StreamSocket::disconnect() {
  disconnect_requested_ = true;
  if (strand_.running_in_this_thread()) close_with(std::nullopt);
  else on_strand([this] { close_with(std::nullopt); });
}

void StreamSocket::disconnect_after_writing() {
  on_strand([this] {
    if (closed_ || closing_after_writes_) return;
    closing_after_writes_ = true;
    reads_.clear();
    pump_writes();
  });
}

std::string StreamSocket::remote_host() const {
  if (!socket_) return {};
  boost::system::error_code ec;
  const auto endpoint = socket_->remote_endpoint(ec);
  if (ec) return {};
  auto address = endpoint.address();
  // An IPv4 client on the dual-stack listener is the same host either way.
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    address = boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6());
  return address.to_string();
}

void StreamSocket::close_with(std::optional<StreamError> error) {
  if (closed_) return;
  closed_ = true;
  ++listen_generation_;
  boost::system::error_code ignored;
  deadline_timer_.cancel();
  accept_retry_v4_.cancel();
  accept_retry_v6_.cancel();
  if (socket_) socket_->close(ignored);
  if (v4_) v4_->close(ignored), v4_.reset();
  if (v6_) v6_->close(ignored), v6_.reset();
  local_port_ = 0;
  reads_.clear();
  writes_.clear();
  buffer_.clear();
  buffer_.shrink_to_fit();
  buffer_start_ = buffer_end_ = 0;
  if (!started_) return;
  to_delegate([this, error = std::move(error)](StreamSocketDelegate& d) { d.socket_did_disconnect(*this, error); });
}

}  // namespace tavri::net
