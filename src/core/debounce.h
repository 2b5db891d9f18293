#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace tavri {

// Runs an action once changes have been quiet for a while, and at the
// latest some time after the first unsaved change (for state that changes
// all the time, such as the player registry).
class Debounce : public QObject {
 public:
  Debounce(int quiet_ms, int longest_ms, std::function<void()> action, QObject* parent = nullptr)
      : QObject(parent), quiet_ms_(quiet_ms), longest_ms_(longest_ms), action_(std::move(action)) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { fire(); });
  }
  // Cheap enough for every datagram: the timer is armed once per quiet period.
  void touch() {
    last_.start();
    if (timer_.isActive()) return;
    first_.start();
    timer_.start(quiet_ms_);
  }
  void cancel() { timer_.stop(); }
  bool pending() const { return timer_.isActive(); }

 private:
  void fire() {
    const qint64 quiet_left = quiet_ms_ - last_.elapsed(), longest_left = longest_ms_ - first_.elapsed();
    if (quiet_left > 0 && longest_left > 0) {
      timer_.start(static_cast<int>(std::min(quiet_left, longest_left)));
      return;
    }
    action_();
  }
  int quiet_ms_, longest_ms_;
  std::function<void()> action_;
  QTimer timer_;
  QElapsedTimer first_, last_;
};

}  // namespace tavri
