#pragma once
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

namespace tavri {

// Datagrams on their way from the socket's queue to the main thread, in
// arrival order. Bounded: a flood costs a count of dropped datagrams, not
// memory without end (players repeat their feedback every few seconds).
class FeedbackInbox {
 public:
  struct Datagram {
    QByteArray bytes;
    QString host;
  };
  enum class Push { kWake, kQueued, kDropped };

  explicit FeedbackInbox(std::size_t capacity) : capacity_(capacity) {}

  // kWake: the inbox was empty, so the main thread must be told.
  Push push(Datagram datagram) {
    std::lock_guard lock(mutex_);
    if (queue_.size() >= capacity_) return Push::kDropped;
    queue_.push_back(std::move(datagram));
    return queue_.size() == 1 ? Push::kWake : Push::kQueued;
  }

  std::vector<Datagram> take(std::size_t most) {
    std::vector<Datagram> out;
    std::lock_guard lock(mutex_);
    while (!queue_.empty() && out.size() < most) {
      out.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    return out;
  }

  bool empty() {
    std::lock_guard lock(mutex_);
    return queue_.empty();
  }

 private:
  std::mutex mutex_;
  std::deque<Datagram> queue_;
  std::size_t capacity_;
};

}  // namespace tavri
