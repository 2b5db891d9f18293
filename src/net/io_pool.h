#pragma once
#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <algorithm>
#include <atomic>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace tavri::net {

// One io_context run by a few threads: the shared background queue of the
// network layers. Sequential queues are strands on it.
class IoPool {
 public:
  explicit IoPool(unsigned threads = 2) : work_(boost::asio::make_work_guard(io_)) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { io_.run(); });
  }
  ~IoPool() { stop(); }
  IoPool(const IoPool&) = delete;
  IoPool& operator=(const IoPool&) = delete;

  // The process's pool, started on first use.
  static IoPool& shared() {
    static IoPool pool;
    return pool;
  }

  boost::asio::io_context& context() { return io_; }
  boost::asio::any_io_executor executor() { return io_.get_executor(); }
  using Strand = boost::asio::strand<boost::asio::io_context::executor_type>;
  Strand make_strand() { return boost::asio::make_strand(io_); }

  void stop() {
    work_.reset();
    io_.stop();
    for (auto& t : threads_)
      if (t.joinable()) t.join();
    threads_.clear();
  }

 private:
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
  std::vector<std::thread> threads_;
};

// Single-thread pools, one per core, for work that is spread out: each
// piece stays on one thread, and a hand-over between its queues wakes no
// other thread.
class IoGroup {
 public:
  explicit IoGroup(unsigned threads) {
    for (unsigned i = 0; i < std::max(threads, 1u); ++i) pools_.push_back(std::make_unique<IoPool>(1));
  }
  // One thread per core; never destroyed, so no handler can end up joining
  // its own thread.
  static IoGroup& shared() {
    static IoGroup& group = *new IoGroup(std::max(std::thread::hardware_concurrency(), 1u));
    return group;
  }
  std::size_t size() const { return pools_.size(); }
  // The next context, in turn.
  boost::asio::io_context& next() { return pools_[turn_++ % pools_.size()]->context(); }
  void stop() {
    for (auto& pool : pools_) pool->stop();
  }

 private:
  std::vector<std::unique_ptr<IoPool>> pools_;
  std::atomic<std::size_t> turn_{0};
};

// Runs fn on the strand and waits for its result; runs inline when the
// caller is already on that strand, so a queue never waits on itself.
template <typename Strand, typename Fn>
auto run_sync(Strand& strand, Fn&& fn) -> decltype(fn()) {
  if (strand.running_in_this_thread()) return fn();
  std::packaged_task<decltype(fn())()> task(std::forward<Fn>(fn));
  auto result = task.get_future();
  boost::asio::post(strand, [&task] { task(); });
  return result.get();
}

}  // namespace tavri::net
