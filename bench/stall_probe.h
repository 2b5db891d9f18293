// What the benchmarks measure of the main thread: its longest stall and
// its own CPU time.
#pragma once
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <ctime>

namespace tavri::bench {

// Fires every 10 ms and keeps the longest delay past its due time.
class StallProbe {
 public:
  explicit StallProbe(bool started = true) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, since_.nsecsElapsed() / 1e6 - 10.0);
      since_.start();
    });
    if (started) start();
  }
  void start() {
    longest_ = 0;
    since_.start();
    timer_.start();
  }
  double stop() {
    longest_ = std::max(longest_, since_.nsecsElapsed() / 1e6 - 10.0);
    timer_.stop();
    return longest();
  }
  double longest() const { return std::max(0.0, longest_); }

 private:
  QTimer timer_;
  QElapsedTimer since_;
  double longest_ = 0;
};

// The calling thread's CPU time, in milliseconds.
inline double thread_cpu_ms() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

}  // namespace tavri::bench
