#pragma once
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tavri {

// Encodes and writes saved-state and published files on one worker thread,
// so that large catalogues and schedules are saved without stalling the
// window. Per path, a newer job replaces a queued older one: the last state
// handed over is the one that ends up on disk. A job works on snapshots
// (records are values) and writes atomically, logging like every other save.
class BackgroundWriter {
 public:
  using Write = std::function<void()>;
  static BackgroundWriter& instance();
  ~BackgroundWriter();

  void submit(const QString& path, Write write);
  // A job that encodes, then writes the bytes with the save tag.
  void submit_bytes(const QString& path, std::function<QByteArray()> encode, const QString& save_tag);
  // Drops the queued job for the path and waits while one for it is being written,
  // so that a direct save that follows cannot be overtaken by an older state.
  void cancel(const QString& path);
  // Waits until every queued job is written; false when the time ran out.
  bool wait_idle(int timeout_ms);
  // Runs fn on the context's thread once every job queued so far is
  // written (a newer state of the same file included): players are told to
  // fetch files only after this.
  void after_pending(QObject* context, std::function<void()> fn);
  // Files waiting to be written (the metrics' queue length).
  std::size_t queued();
  // Tests: each job waits this long first, as a slow disk would.
  void set_delay_for_tests(int ms) { delay_ms_ = ms; }

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<QString> order_;
  QHash<QString, Write> queued_;
  QString running_;
  bool stopping_ = false;
  std::atomic<int> delay_ms_{0};
  quint64 barriers_ = 0;
  std::thread thread_;
};

}  // namespace tavri
