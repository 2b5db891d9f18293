#include "api/sign_in_queue.h"

#include <thread>

namespace tavri::api {

SignInQueue::Queued SignInQueue::submit(const std::string& source, Check check) {
  std::lock_guard lock(mutex_);
  if (sources_.contains(source)) return Queued::source_busy;
  if (sources_.size() >= most_sources_) return Queued::full;
  sources_.insert(source);
  waiting_.emplace_back(source, std::move(check));
  if (running_ < hashing_) {
    ++running_;
    std::thread([this] { work(); }).detach();
  }
  return Queued::yes;
}

void SignInQueue::work() {
  std::unique_lock lock(mutex_);
  while (!waiting_.empty()) {
    auto [source, check] = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    const std::function<void()> answer = check();
    lock.lock();
    sources_.erase(source);
    if (answer) {
      lock.unlock();
      answer();
      lock.lock();
    }
  }
  --running_;
}

SignInQueue& SignInQueue::shared() {
  // Never destroyed: a hashing thread may still be finishing at exit.
  static auto* queue = new SignInQueue(2, 512);
  return *queue;
}

}  // namespace tavri::api
