#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
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
  void touch() {
    if (!timer_.isActive()) first_.start();
    const qint64 left = longest_ms_ - first_.elapsed();
    timer_.start(static_cast<int>(std::max<qint64>(0, std::min<qint64>(quiet_ms_, left))));
  }
  void cancel() { timer_.stop(); }
  bool pending() const { return timer_.isActive(); }

 private:
  void fire() { action_(); }
  int quiet_ms_, longest_ms_;
  std::function<void()> action_;
  QTimer timer_;
  QElapsedTimer first_;
};

}  // namespace tavri
