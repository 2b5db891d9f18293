#pragma once
#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "main_queue.h"

namespace tavri {

// One thread of its own for slow work that the main thread must not wait
// for (a movie probe, a history query), in the order it was asked. Each
// result is handed to the owner's thread. Destroying the worker drops what
// has not started, waits for the job in hand, and delivers nothing more.
class Worker {
 public:
  explicit Worker(QObject* context) : context_(context) {}
  ~Worker() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      jobs_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // work() runs on the worker's thread; done(result) on the context's.
  template <typename Work, typename Done>
  void run(Work work, Done done) {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    jobs_.push_back([this, work = std::move(work), done = std::move(done)]() mutable {
      auto result = work();
      std::lock_guard deliver(mutex_);
      if (stopping_) return;  // the context may be going
      post_to(context_, [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
    });
    wake_.notify_one();
  }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
    }
  }

  QObject* context_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tavri
